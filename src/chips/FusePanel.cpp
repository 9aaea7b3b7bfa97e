#include "chips/FusePanel.h"

#include "core/WorkState.h"
#include "view/HexText.h"

#include <cctype>

namespace {

std::string Lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string &text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string JoinItems(const std::vector<std::string> &items)
{
    std::string list;
    for (const std::string &item : items)
        list += (list.empty() ? "" : ", ") + item;
    return list;
}

// Position of value in items: the first item of that text, or a plain list
// position; -1 when neither.
int FindItem(const std::vector<std::string> &items, const std::string &value)
{
    const std::string wanted = Lower(value);
    for (size_t i = 0; i < items.size(); ++i) {
        if (Lower(items[i]) == wanted)
            return static_cast<int>(i);
    }
    int32_t position = 0;
    if (!value.empty() && value.find_first_not_of("0123456789") == std::string::npos
            && DecimalValue(value, position) && position < static_cast<int32_t>(items.size()))
        return position;
    return -1;
}

} // namespace

const TFuseLayoutRules *TFusePanel::Rules() const
{
    if (!ValidChipIndex(Chip))
        return nullptr;
    return &LayoutRules(ChipCatalogue[static_cast<size_t>(Chip)].FuseLayout);
}

const TCodeProtectRule *TFusePanel::CodeProtectRule() const
{
    return CodeProtectRuleFor(Chip);
}

void TFusePanel::Clear()
{
    Chip = -1;
    for (TFuseBoxView &box : Boxes)
        box.Visible = false; // the check state stays, as on the widgets
    OscItems.clear();
    OscIndex = -1;
    CpItems.clear();
    CpIndex = -1;
    OscChButtShown = false;
}

void TFusePanel::ClearAndHide()
{
    Clear();
    ListsShown = false;
    IdShown = false;
}

bool TFusePanel::Apply(int chipIndex)
{
    ClearAndHide();
    if (!CodeProtectRuleFor(chipIndex))
        return false;
    IdEditText = IdEditReset;
    Chip = chipIndex;
    const TFuseLayoutRules &rules = *Rules();
    int32_t scratch = 0x3FFF;
    for (size_t i = 0; i < Boxes.size(); ++i) {
        const TFuseBoxRule &rule = rules.Boxes[i];
        if (!rule.Caption)
            continue;
        Boxes[i].Caption = rule.Caption;
        Boxes[i].Place = FuseBoxPlaces[i];
        Boxes[i].Visible = true;
        SetBoxChecked(static_cast<int>(i), rule.Default, scratch);
    }
    OscChButtShown = rules.OscChButt;
    for (int p = 0; p < rules.Oscillator->Count; ++p)
        OscItems.emplace_back(rules.Oscillator->Items[static_cast<size_t>(p)]);
    const TCodeProtectRule &cp = *CodeProtectRule();
    for (int p = 0; p < cp.Count; ++p)
        CpItems.emplace_back(cp.Items[static_cast<size_t>(p)]);
    OscIndex = 0;
    CpIndex = 0;
    ListsShown = true;
    IdShown = true;
    return true;
}

bool TFusePanel::ClickBox(int box, bool newChecked, int32_t &fuseWord)
{
    const TFuseLayoutRules *rules = Rules();
    if (!rules || box < 0 || box >= FuseBoxCount || !Boxes[static_cast<size_t>(box)].Visible)
        return false;
    Boxes[static_cast<size_t>(box)].Checked = newChecked;
    fuseWord = BoxClick(rules->Boxes[static_cast<size_t>(box)], newChecked, fuseWord);
    return true;
}

bool TFusePanel::SetBoxChecked(int box, bool checked, int32_t &fuseWord)
{
    if (box < 0 || box >= FuseBoxCount)
        return false;
    TFuseBoxView &view = Boxes[static_cast<size_t>(box)];
    if (view.Checked == checked)
        return true;
    // The toolkit calls the click handler on every change of state; for a
    // box the layout does not show the handler finds no rule.
    view.Checked = checked;
    if (const TFuseLayoutRules *rules = Rules(); rules && view.Visible)
        fuseWord = BoxClick(rules->Boxes[static_cast<size_t>(box)], checked, fuseWord);
    return true;
}

bool TFusePanel::SelectOscillator(int position, int32_t &fuseWord)
{
    if (!ShowOscillator(position))
        return false;
    fuseWord = OscillatorWrite(*Rules()->Oscillator, position, fuseWord);
    return true;
}

bool TFusePanel::SelectCodeProtect(int position, int32_t &fuseWord)
{
    if (!ShowCodeProtect(position))
        return false;
    fuseWord = CodeProtectWrite(*CodeProtectRule(), position, fuseWord);
    return true;
}

bool TFusePanel::ShowOscillator(int position)
{
    if (!ChipApplied() || position < 0 || position >= static_cast<int>(OscItems.size()))
        return false;
    OscIndex = position;
    return true;
}

bool TFusePanel::ShowCodeProtect(int position)
{
    if (!ChipApplied() || position < 0 || position >= static_cast<int>(CpItems.size()))
        return false;
    CpIndex = position;
    return true;
}

void TFusePanel::Show(int32_t &fuseWord)
{
    const TFuseLayoutRules *rules = Rules();
    if (!rules)
        return;
    // The rules write back bits 0..13 as they are, but their AND masks also
    // strip bits 14 and 15, which a word from a file may carry; showing a
    // word must leave it whole.
    const int32_t beyondWord = fuseWord & ~0x3FFF;
    for (size_t i = 0; i < Boxes.size(); ++i) {
        const TFuseBoxRule &rule = rules->Boxes[i];
        if (rule.Caption && rule.Bit != 0)
            SetBoxChecked(static_cast<int>(i), BoxShownChecked(rule, fuseWord), fuseWord);
    }
    fuseWord = (fuseWord & 0x3FFF) | beyondWord;
    ShowOscillator(OscillatorShown(*rules->Oscillator, fuseWord));
    ShowCodeProtect(CodeProtectShown(*CodeProtectRule(), fuseWord));
}

void TFusePanel::ShowId(int32_t idValue)
{
    IdEditText = MyIntToHex(idValue, 4);
}

bool TFusePanel::CodeProtectOnSelected() const
{
    return !CpItems.empty() && CpIndex == static_cast<int>(CpItems.size()) - 1;
}

TPlace TFusePanel::OscChButtPlace() const
{
    return OscChButtShown ? OscChButtShownPlace : OscChButtParkedPlace;
}

std::string TFusePanel::Describe() const
{
    const TFuseLayoutRules *rules = Rules();
    if (!rules)
        return std::string();
    std::string text;
    for (size_t i = 0; i < Boxes.size(); ++i) {
        const TFuseBoxRule &rule = rules->Boxes[i];
        if (rule.Caption && rule.Bit != 0)
            text += std::string(rule.Caption) + (Boxes[i].Checked ? " on, " : " off, ");
    }
    text += "Oscillator " + OscItems[static_cast<size_t>(OscIndex)];
    text += ", Code Protect " + CpItems[static_cast<size_t>(CpIndex)];
    return text;
}

bool TFusePanel::ApplySetting(const std::string &setting, int32_t &fuseWord,
                              std::string &reason)
{
    const TFuseLayoutRules *rules = Rules();
    if (!rules) {
        reason = "No chip selected.";
        return false;
    }
    const std::string chipName = ChipCatalogue[static_cast<size_t>(Chip)].Name;
    const size_t equals = setting.find('=');
    if (equals == std::string::npos) {
        reason = "Expected <name>=<value>, not \"" + setting + "\".";
        return false;
    }
    const std::string name = Lower(Trim(setting.substr(0, equals)));
    const std::string value = Trim(setting.substr(equals + 1));

    if (name == "oscillator" || name == "codeprotect" || name == "code protect") {
        const bool osc = name == "oscillator";
        const std::vector<std::string> &items = osc ? OscItems : CpItems;
        const int position = FindItem(items, value);
        if (position < 0) {
            reason = std::string(osc ? "Oscillator" : "Code Protect") + " of " + chipName
                    + " has no entry \"" + value + "\" (" + JoinItems(items) + ").";
            return false;
        }
        return osc ? SelectOscillator(position, fuseWord)
                   : SelectCodeProtect(position, fuseWord);
    }

    std::vector<std::string> names;
    for (size_t i = 0; i < Boxes.size(); ++i) {
        if (!Boxes[i].Visible)
            continue;
        names.push_back(Boxes[i].Caption);
        if (Lower(Boxes[i].Caption) != name)
            continue;
        const std::string state = Lower(value);
        if (state != "on" && state != "off") {
            reason = Boxes[i].Caption + " takes on or off, not \"" + value + "\".";
            return false;
        }
        return ClickBox(static_cast<int>(i), state == "on", fuseWord);
    }
    names.emplace_back("Oscillator");
    names.emplace_back("CodeProtect");
    reason = "Unknown fuse \"" + Trim(setting.substr(0, equals)) + "\" for " + chipName + " ("
            + JoinItems(names) + ").";
    return false;
}

std::string DescribeFuseWord(int chipIndex, int32_t fuseWord)
{
    TFusePanel panel;
    if (!panel.Apply(chipIndex))
        return std::string();
    panel.Show(fuseWord);
    return panel.Describe();
}

bool ApplyChipSelection(int chipIndex, TWorkState &state, TFusePanel &panel)
{
    if (!ValidChipIndex(chipIndex))
        return false;
    const TChipInfo &chip = ChipCatalogue[static_cast<size_t>(chipIndex)];
    state.SocketType = static_cast<int32_t>(chip.SocketType);
    ApplyChipRow(chip, state);
    panel.Apply(chipIndex);
    state.SetInitialFuseValue();
    return true;
}
