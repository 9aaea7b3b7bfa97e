#include "app/osc.h"

#include "core/UiServices.h"
#include "app/prog2.h"
#include "chips/OscCal.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>

int TypedChar(const QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    default:
        break;
    }
    const QString text = event->text();
    if (text.isEmpty())
        return -1;
    if (text.size() != 1)
        return 0xFFFD; // a character beyond one UTF-16 unit: typed, but never a digit
    const char16_t c = text.at(0).unicode();
    // Tab moves the focus, Escape cancels the dialog, Delete deletes.
    if (c == u'\t' || c == 27 || c == 127)
        return -1;
    return c;
}

TOscCalFm::TOscCalFm(TProjFm *owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                             | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      Owner(owner)
{
    setWindowTitle(QStringLiteral("OSCAL"));
    setModal(true);
    // A window does not inherit its owner's font.
    setFont(owner->font());
    setFixedSize(258, 131);

    Label1 = new QLabel(QStringLiteral("Enter OSCCAL Value"), this);
    Label1->move(39, 29);

    QFont bold = font();
    bold.setBold(true);
    RetlwLab = new QLabel(this);
    RetlwLab->setFont(bold);
    QPalette red = RetlwLab->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    RetlwLab->setPalette(red);
    RetlwLab->move(162, 28);

    Edit1 = new QLineEdit(this);
    Edit1->setFont(bold);
    Edit1->setMaxLength(OscCalMaxLength);
    Edit1->setGeometry(183, 25, 25, 21);
    Edit1->installEventFilter(this);

    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton),
                              QStringLiteral("OK"), this);
    BitBtn1->setGeometry(35, 67, 75, 25);
    BitBtn1->setDefault(true);
    BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton),
                              QStringLiteral("Cancel"), this);
    BitBtn2->setGeometry(147, 67, 75, 25);

    connect(BitBtn1, &QPushButton::clicked, this, &TOscCalFm::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

    PrepareRetlw();
}

void TOscCalFm::PrepareRetlw()
{
    RetlwLab->setText(QString::fromLatin1(RetlwHighText));
}

bool TOscCalFm::Execute(const std::string &editText)
{
    Edit1->setText(QString::fromStdString(editText).toUpper());
    // Typing replaces the shown value, as when the box gets the focus.
    Edit1->selectAll();
    Edit1->setFocus();
    Stored = false;
    if (const QScreen *s = Owner->screen() ? Owner->screen() : QGuiApplication::primaryScreen())
        move(s->availableGeometry().center() - rect().center());
    if (OnShown)
        QTimer::singleShot(0, this, [this] {
            if (OnShown)
                OnShown(*this);
        });
    return exec() == QDialog::Accepted && Stored;
}

bool TOscCalFm::Edit1KeyPress(QKeyEvent *event)
{
    const int typed = TypedChar(event);
    if (typed < 0)
        return false;
    const TOscCalKey key = FilterOscCalKey(typed);
    if (key.Beep)
        Owner->Ui.Beep();
    if (key.Key != 0)
        Edit1->insert(QString(QChar(key.Key))); // the box shows upper case
    return true;
}

void TOscCalFm::BitBtn1Click()
{
    Stored = StoreOscCal(Owner->WorkState, Edit1->text().toStdString());
    accept();
}

bool TOscCalFm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Edit1 && event->type() == QEvent::KeyPress)
        return Edit1KeyPress(static_cast<QKeyEvent *>(event));
    return QDialog::eventFilter(watched, event);
}
