#pragma once

#include "chips/FuseRules.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct TWorkState;

struct TPlace
{
    int Left;
    int Top;
};

// Design of the fuse panel (274 x 126): the window builds its controls from
// these places and the panel below moves them.
inline constexpr std::array<TPlace, FuseBoxCount> FuseBoxPlaces = {
    {{32, 13}, {32, 35}, {32, 58}, {32, 80}, {106, 13}, {106, 35}, {106, 58}}};
inline constexpr int FuseBoxWidth = 65;
inline constexpr int Cb4Width = 68;
inline constexpr TPlace Label1Place = {179, 13};
inline constexpr TPlace OscillatorPlace = {180, 29};
inline constexpr TPlace Label2Place = {179, 52};
inline constexpr TPlace CodeProtectPlace = {180, 68};
inline constexpr int FuseListWidth = 63;
inline constexpr TPlace Label3Place = {182, 96};
inline constexpr TPlace IdEditPlace = {205, 92};
inline constexpr int IdEditWidth = 36;
inline constexpr char IdEditReset[] = "FFFF";
// The window parks a control that is not in use at this left, beyond the
// width of its panel.
inline constexpr int ParkedLeft = 300;
// OscChButt is in the panel only for the 12C67x layout.
inline constexpr TPlace OscChButtShownPlace = {99, 78};
inline constexpr TPlace OscChButtParkedPlace = {ParkedLeft, 58};

struct TFuseBoxView
{
    bool Visible = false;
    std::string Caption;
    TPlace Place = {0, 0};
    bool Checked = false;
};

// The fuse panel without widgets, and the one record of what CB1..CB7, the
// two lists, their labels, IDedit and OscChButt show. The window only draws
// it: its controls are set from it (with their change signals blocked) and
// the user's actions come back through the Click/Select calls and SetIdText.
// The command line uses it directly.
// Like the toolkit, setting a box's state from code runs its click rule,
// while setting a list position from code does not.
class TFusePanel
{
public:
    // No chip: hides the boxes, empties both lists and parks OscChButt, as the
    // default screen does; the lists, their labels and IDedit stay as they are.
    void Clear();
    // The chip selection's clearing: Clear, and the lists, their labels and
    // IDedit hidden as well.
    void ClearAndHide();
    // Lays out the panel of a catalogue row: IDedit reset, captions, places,
    // default check states, list items, position 0 in both lists, labels,
    // lists and IDedit visible. False (panel cleared) for an invalid index.
    // The click rules run on a scratch word: the caller resets FuseWord next.
    bool Apply(int chipIndex);
    int ChipIndex() const { return Chip; }
    bool ChipApplied() const { return Chip >= 0; }

    // User actions: each runs the control's rule on fuseWord. False (nothing
    // changed) for a control that the layout does not show or a position
    // outside the list.
    bool ClickBox(int box, bool newChecked, int32_t &fuseWord);
    bool SelectOscillator(int position, int32_t &fuseWord);
    bool SelectCodeProtect(int position, int32_t &fuseWord);

    // Setting controls from code. A box that changes state runs its click
    // rule; list positions are set without their rules.
    bool SetBoxChecked(int box, bool checked, int32_t &fuseWord);
    bool ShowOscillator(int position);
    bool ShowCodeProtect(int position);
    // The fuse part of UpDateFuseSettings: the boxes bound to bits in order
    // CB1..CB7, then the oscillator, then the code-protect position. The
    // rules write back the bits that the word already has.
    void Show(int32_t &fuseWord);
    // The ID part of UpDateFuseSettings: IDedit shows four hex digits.
    void ShowId(int32_t idValue);

    const TFuseBoxView &Box(int box) const { return Boxes[static_cast<size_t>(box)]; }
    const std::vector<std::string> &OscillatorItems() const { return OscItems; }
    int OscillatorIndex() const { return OscIndex; }
    const std::vector<std::string> &CodeProtectItems() const { return CpItems; }
    int CodeProtectIndex() const { return CpIndex; }
    // The code-protect list shows its last entry, the ON entry.
    bool CodeProtectOnSelected() const;
    // Label1, Label2, Oscillator and CodeProtect.
    bool ListsVisible() const { return ListsShown; }
    // IDedit and Label3.
    bool IdVisible() const { return IdShown; }
    const std::string &IdText() const { return IdEditText; }
    void SetIdText(const std::string &text) { IdEditText = text; }
    bool OscChButtInPanel() const { return OscChButtShown; }
    TPlace OscChButtPlace() const;

    // "WDT on, PWRTE off, Oscillator XT, Code Protect OFF": the controls bound
    // to bits, as shown; empty without a chip.
    std::string Describe() const;
    // "<caption>=on|off", "Oscillator=<item>" or "CodeProtect=<item>" (names,
    // values and items in either case; an item may also be given by its list
    // position), applied through the user rules. False with a reason for an
    // unknown name or value; nothing changes then.
    bool ApplySetting(const std::string &setting, int32_t &fuseWord, std::string &reason);

private:
    const TFuseLayoutRules *Rules() const;
    const TCodeProtectRule *CodeProtectRule() const;

    int Chip = -1;
    std::array<TFuseBoxView, FuseBoxCount> Boxes;
    std::vector<std::string> OscItems;
    int OscIndex = -1;
    std::vector<std::string> CpItems;
    int CpIndex = -1;
    bool ListsShown = false;
    bool IdShown = false;
    std::string IdEditText = IdEditReset;
    bool OscChButtShown = false;
};

// Text of a configuration word on a chip, as Describe gives it after Show.
std::string DescribeFuseWord(int chipIndex, int32_t fuseWord);

// Applies a catalogue row to the work state and the panel in ChipSelector's
// order: row values, panel layout, then FuseWord 0x3FFF and IdValue 0xFFFF.
// SocketType, recorded when the chip is chosen, is set here too. False for an
// invalid index (nothing changed).
bool ApplyChipSelection(int chipIndex, TWorkState &state, TFusePanel &panel);
