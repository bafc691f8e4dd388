// The window's layout: every control with its place, text, font and colours, in creation order.
#include <QAbstractItemView>
#include <QCompleter>
#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/form_style.h"
#include "ui/main_window.h"
#include "ui/outer_size.h"

namespace {

// Outer size 590 x 570. Until the window manager reports its frame, the client area assumes a
// 4-pixel resizable frame and a 19-pixel title bar.
constexpr int kLeft = 376, kTop = 303;
constexpr int kOuterWidth = 590, kOuterHeight = 570;
constexpr int kClientWidth = 582, kClientHeight = 543;
constexpr int kTimerInterval = 50;
constexpr int kStatusStartWidth = 144;

template <typename W, typename... Args>
W* Make(QWidget* parent, const char* name, int l, int t, int w, int h, Args&&... args) {
    auto* widget = new W(std::forward<Args>(args)..., parent);
    widget->setObjectName(name);
    widget->setGeometry(l, t, w, h);
    return widget;
}

TLabel* MakeLabel(QWidget* parent, const char* name, int l, int t, const QString& text) {
    auto* label = new TLabel(parent);
    label->setObjectName(name);
    label->move(l, t);
    label->SetCaption(text);
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, int l, int t, int w, int h,
                    const QString& text) {
    auto* edit = Make<QLineEdit>(parent, name, l, t, w, h, text);
    edit->setFrame(true);
    return edit;
}

}  // namespace

void TForm1::BuildLayout() {
    InstallFontSubstitutes();
    setWindowTitle(QStringLiteral("Quenby "));
    setFont(FormFont(12));
    move(kLeft, kTop);
    resize(kClientWidth, kClientHeight);
    new OuterSizeKeeper(this, QSize(kOuterWidth, kOuterHeight));

    // The controls live on a client surface inside a scroll area, so scroll bars appear when the
    // window is made smaller than its controls.
    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setFocusPolicy(Qt::NoFocus);
    scroll_->setWidgetResizable(true);
    client_ = new QWidget;
    client_->setObjectName("Form1");
    SetColours(client_, palette().color(QPalette::WindowText), &clSilver);
    scroll_->setWidget(client_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll_);

    QWidget* f = client_;
    Label1 = MakeLabel(f, "Label1", 3, 8, "Tarnel Test 115200bps");
    label2 = MakeLabel(f, "label2", 14, 514, "");
    Label3 = MakeLabel(f, "Label3", 126, 54, "");
    Button2 = Make<QPushButton>(f, "Button2", 8, 38, 65, 27, "FileTrans");
    Edit1 = MakeEdit(f, "Edit1", 514, 8, 56, 21, "");
    SIO_SELECT = Make<QGroupBox>(f, "SIO_SELECT", 6, 82, 91, 127, "SIO_SELECT");
    Memo1 = new TMemo(f);
    Memo1->setObjectName("Memo1");
    Memo1->setGeometry(103, 320, 418, 169);
    RadioButton3 = Make<QRadioButton>(f, "RadioButton3", 16, 102, 55, 14, "COM1");
    RadioButton4 = Make<QRadioButton>(f, "RadioButton4", 16, 120, 65, 17, "COM2");
    Button1 = Make<QPushButton>(f, "Button1", 8, 240, 75, 25, "DataOut0x55");
    RadioButton1 = Make<QRadioButton>(f, "RadioButton1", 16, 144, 65, 17, "COM3");
    Button3 = Make<QPushButton>(f, "Button3", 8, 312, 75, 25, "MON_CLR");
    RadioButton2 = Make<QRadioButton>(f, "RadioButton2", 16, 168, 57, 17, "COM4");
    Button4 = Make<QPushButton>(f, "Button4", 8, 272, 75, 25, "DataOut0xAA");
    Edit4 = MakeEdit(f, "Edit4", 104, 280, 417, 27, "Edit4");

    ad0 = Make<QGroupBox>(f, "ad0", 104, 80, 201, 193, "ad0");
    max0 = MakeLabel(ad0, "max0", 8, 40, "max0");
    min0 = MakeLabel(ad0, "min0", 8, 88, "min0");
    diffre0 = MakeLabel(ad0, "diffre0", 8, 128, "diffre0");
    Edit2 = MakeEdit(ad0, "Edit2", 64, 40, 121, 27, "Edit2");
    Edit5 = MakeEdit(ad0, "Edit5", 64, 80, 121, 27, "Edit5");
    Edit6 = MakeEdit(ad0, "Edit6", 64, 120, 121, 27, "Edit6");
    CLR0 = Make<QPushButton>(ad0, "CLR0", 64, 160, 121, 25, "CLR0");

    ad1 = Make<QGroupBox>(f, "ad1", 320, 80, 201, 193, "ad1");
    max1 = MakeLabel(ad1, "max1", 8, 48, "max1");
    min1 = MakeLabel(ad1, "min1", 8, 88, "min1");
    differ1 = MakeLabel(ad1, "differ1", 8, 128, "differ1");
    Edit7 = MakeEdit(ad1, "Edit7", 64, 40, 121, 27, "Edit7");
    Edit8 = MakeEdit(ad1, "Edit8", 64, 80, 121, 27, "Edit8");
    Edit9 = MakeEdit(ad1, "Edit9", 64, 120, 121, 27, "Edit9");
    CLR1 = Make<QPushButton>(ad1, "CLR1", 64, 160, 121, 25, "CLR1");

    // Own fonts and colours; every other control takes its parent's.
    Label1->setFont(FormFont(19, false, true));
    SetColours(Label1, clRed, &clSilver);
    label2->setFont(FormFont(13, true));
    SetColours(label2, clBlue);
    Label3->setFont(FormFont(12));
    SetColours(Label3, clRed, &clWhite);
    Edit1->setFont(FormFont(13));
    // The stand-in face runs wider than the original: tighten the clock so a whole time fits.
    QFont clock = Edit1->font();
    clock.setLetterSpacing(QFont::AbsoluteSpacing, -1);
    Edit1->setFont(clock);
    SetColours(Edit1, clBlack);
    Memo1->setFont(FormFont(21));
    SetColours(Memo1, clBlack);
    Edit4->setFont(FormFont(19));
    ad0->setFont(FormFont(19));
    ad1->setFont(FormFont(19));

    // Labels size themselves to their texts in their own fonts.
    Label1->SetCaption(Label1->text());
    label2->SetCaption(QStringLiteral("Quenby bench monitor for A/D boards  Ver1.0 99.8-202406"));
    Label3->SetCaption(QString(36, QChar(' ')));
    // 36 blanks of the original face, 4 pixels each; the stand-in's blanks are narrower. Every
    // later text sizes the label again.
    Label3->resize(kStatusStartWidth, Label3->height());
    for (TLabel* l : {max0, min0, diffre0, max1, min1, differ1}) l->SetCaption(l->text());

    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setTabChangesFocus(true);

    // The port buttons share the client as parent, so they form one exclusive set; only the
    // checked one is a tab stop. COM2 is checked before any handler is bound.
    RadioButton4->setChecked(true);
    for (QRadioButton* b : {RadioButton3, RadioButton4, RadioButton1, RadioButton2}) {
        b->setFocusPolicy(b->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
        connect(b, &QRadioButton::toggled, b, [b](bool checked) {
            b->setFocusPolicy(checked ? Qt::StrongFocus : Qt::ClickFocus);
        });
    }

    QWidget* tabOrder[] = {Button2, Edit1,        Memo1,   RadioButton3, RadioButton4,
                           Button1, RadioButton1, Button3, RadioButton2, Button4,
                           Edit4,   Edit2,        Edit5,   Edit6,        CLR0,
                           Edit7,   Edit8,        Edit9,   CLR1};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);

    const QRect extent = client_->childrenRect();
    client_->setMinimumSize(extent.right() + 1, extent.bottom() + 1);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer1->setInterval(kTimerInterval);

    // Any name is accepted, an existing file or not; one file only; patterns match in any case.
    OpenDialog1 = new QFileDialog(this);
    OpenDialog1->setObjectName("OpenDialog1");
    OpenDialog1->setOption(QFileDialog::DontUseNativeDialog);
    OpenDialog1->setOption(QFileDialog::HideNameFilterDetails);
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog1->setFileMode(QFileDialog::AnyFile);
    OpenDialog1->setNameFilters({QString::fromUtf8("Sファイル(*.S) (*.s)"),
                                 QString::fromUtf8("HEXファイル(*.HEX) (*.hex)")});
    OpenDialog1->selectNameFilter(OpenDialog1->nameFilters().first());
    OpenDialog1->setFilter(OpenDialog1->filter() & ~QDir::CaseSensitive);
    // The name box's completion list is a window of its own. Return in the name box closes the
    // dialog while the list is up, and the list stays: the box still holds the focus until the
    // window manager moves it, so the list keeps itself open and takes the next click. It goes
    // with the dialog.
    connect(OpenDialog1, &QDialog::finished, OpenDialog1, [dialog = OpenDialog1] {
        for (QCompleter* completer : dialog->findChildren<QCompleter*>())
            if (QAbstractItemView* list = completer->popup()) list->hide();
    });

    BindHandlers();
    Timer1->start();
    Button2->setFocus();
}
