#include <QFontInfo>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

#include "tests/widget/form_fixture.h"
#include "ui/form_style.h"

namespace {

struct ControlCase {
    const char* name;
    int left, top, width, height;  // width/height -1: a label, sized by its text
    const char* text;
    int fontPixels;
};

QString TextOf(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    if (auto* m = qobject_cast<QPlainTextEdit*>(w)) return m->toPlainText();
    return {};
}

}  // namespace

TEST_F(FormTest, EveryControlHasItsPlaceTextAndFont) {
    MakeForm();
    const std::vector<ControlCase> table = {
        {"Label1", 3, 8, -1, -1, "Tarnel Test 115200bps", 19},
        {"Label3", 126, 54, 144, -1, "                                    ", 12},
        {"Button2", 8, 38, 65, 27, "FileTrans", 12},
        {"Edit1", 514, 8, 56, 21, "", 13},
        {"SIO_SELECT", 6, 82, 91, 127, "SIO_SELECT", 12},
        {"Memo1", 103, 320, 418, 169, "", 21},
        {"RadioButton3", 16, 102, 55, 14, "COM1", 12},
        {"RadioButton4", 16, 120, 65, 17, "COM2", 12},
        {"Button1", 8, 240, 75, 25, "DataOut0x55", 12},
        {"RadioButton1", 16, 144, 65, 17, "COM3", 12},
        {"Button3", 8, 312, 75, 25, "MON_CLR", 12},
        {"RadioButton2", 16, 168, 57, 17, "COM4", 12},
        {"Button4", 8, 272, 75, 25, "DataOut0xAA", 12},
        {"Edit4", 104, 280, 417, 27, "Edit4", 19},
        {"ad0", 104, 80, 201, 193, "ad0", 19},
        {"max0", 8, 40, -1, -1, "max0", 19},
        {"min0", 8, 88, -1, -1, "min0", 19},
        {"diffre0", 8, 128, -1, -1, "diffre0", 19},
        {"Edit2", 64, 40, 121, 27, "Edit2", 19},
        {"Edit5", 64, 80, 121, 27, "Edit5", 19},
        {"Edit6", 64, 120, 121, 27, "Edit6", 19},
        {"CLR0", 64, 160, 121, 25, "CLR0", 19},
        {"ad1", 320, 80, 201, 193, "ad1", 19},
        {"max1", 8, 48, -1, -1, "max1", 19},
        {"min1", 8, 88, -1, -1, "min1", 19},
        {"differ1", 8, 128, -1, -1, "differ1", 19},
        {"Edit7", 64, 40, 121, 27, "Edit7", 19},
        {"Edit8", 64, 80, 121, 27, "Edit8", 19},
        {"Edit9", 64, 120, 121, 27, "Edit9", 19},
        {"CLR1", 64, 160, 121, 25, "CLR1", 19},
    };
    for (const auto& c : table) {
        auto* w = F().findChild<QWidget*>(c.name);
        ASSERT_NE(w, nullptr) << c.name;
        EXPECT_EQ(w->pos(), QPoint(c.left, c.top)) << c.name;
        if (c.width >= 0 && c.height < 0) {
            EXPECT_EQ(w->size(), QSize(c.width, w->sizeHint().height())) << c.name;
        } else if (c.width >= 0) {
            EXPECT_EQ(w->size(), QSize(c.width, c.height)) << c.name;
        } else {
            EXPECT_EQ(w->size(), w->sizeHint()) << c.name << " sizes itself to its text";
        }
        EXPECT_EQ(TextOf(w), QString::fromUtf8(c.text)) << c.name;
        EXPECT_EQ(w->font().family(), QString::fromUtf8(kFormFace)) << c.name;
        EXPECT_EQ(w->font().pixelSize(), c.fontPixels) << c.name;
    }
    EXPECT_EQ(QFontInfo(F().Button2->font()).family(), "IPAPGothic");
    EXPECT_TRUE(F().Label1->font().italic());
    EXPECT_TRUE(F().label2->font().bold());
    EXPECT_TRUE(F().label2->text().endsWith("Ver1.0 99.8-202406"));
    EXPECT_EQ(F().label2->pos(), QPoint(14, 514));
    EXPECT_EQ(F().windowTitle(), "Quenby ");
    EXPECT_EQ(F().Timer1->interval(), 50);
    EXPECT_TRUE(F().Timer1->isActive());
}

TEST_F(FormTest, ColoursFollowTheTable) {
    MakeForm();
    struct ColourCase {
        QWidget* w;
        QColor text;
        std::optional<QColor> background;
    };
    const std::vector<ColourCase> table = {
        {F().Label1, clRed, clSilver},      {F().label2, clBlue, std::nullopt},
        {F().Label3, clRed, clWhite},       {F().Edit1, clBlack, std::nullopt},
        {F().Memo1, clBlack, std::nullopt},
    };
    for (const auto& c : table) {
        const QPalette::ColorRole role =
            qobject_cast<QLabel*>(c.w) ? QPalette::WindowText : QPalette::Text;
        EXPECT_EQ(c.w->palette().color(role), c.text) << c.w->objectName().toStdString();
        if (c.background) {
            EXPECT_TRUE(c.w->autoFillBackground());
            EXPECT_EQ(c.w->palette().color(QPalette::Window), *c.background);
        }
    }
    EXPECT_EQ(F().findChild<QWidget*>("Form1")->palette().color(QPalette::Window), clSilver);
}

TEST_F(FormTest, TabVisitsTheControlsInOrderStartingAtFileTrans) {
    MakeForm();
    F().show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&F()));
    EXPECT_EQ(QApplication::focusWidget(), F().Button2);
    const std::vector<QWidget*> expected = {
        F().Edit1, F().Memo1, F().RadioButton4, F().Button1, F().Button3, F().Button4,
        F().Edit4, F().Edit2, F().Edit5,        F().Edit6,   F().CLR0,    F().Edit7,
        F().Edit8, F().Edit9, F().CLR1,         F().Button2};
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), next)
            << "expected " << next->objectName().toStdString() << ", got "
            << QApplication::focusWidget()->objectName().toStdString();
    }
    // The tab stop moves with the check: COM3 sits between DataOut0x55 and MON_CLR.
    Choose(F().RadioButton1);
    F().Button1->setFocus();
    QTest::keyClick(F().Button1, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), F().RadioButton1);
}

TEST_F(FormTest, ScrollBarsAppearWhenTheWindowIsSmallerThanItsControls) {
    MakeForm();
    F().show();
    auto* scroll = F().findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    QApplication::processEvents();
    EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible());
    F().resize(300, 200);
    QApplication::processEvents();
    EXPECT_TRUE(scroll->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(scroll->verticalScrollBar()->isVisible());
    EXPECT_EQ(F().Edit1->pos(), QPoint(514, 8));  // controls keep their places
}

TEST_F(FormTest, StartsWithResetChannelsAndUntouchedDisplays) {
    MakeForm();
    EXPECT_EQ(F().ad0Max, 0);
    EXPECT_EQ(F().ad1Max, 0);
    EXPECT_EQ(F().ad0Min, 99999999);
    EXPECT_EQ(F().ad1Min, 99999999);
    EXPECT_EQ(F().ad0Value, 0);
    EXPECT_EQ(F().ad1Value, 0);
    // Each display's edit control, which starts with its own name as text.
    using measure::Channel;
    using measure::Role;
    const std::pair<measure::Display, const char*> displays[] = {
        {measure::kLastRecordDisplay, "Edit4"},
        {{Role::Maximum, Channel::Ch0}, "Edit2"},
        {{Role::Minimum, Channel::Ch0}, "Edit5"},
        {{Role::Difference, Channel::Ch0}, "Edit6"},
        {{Role::Maximum, Channel::Ch1}, "Edit7"},
        {{Role::Minimum, Channel::Ch1}, "Edit8"},
        {{Role::Difference, Channel::Ch1}, "Edit9"},
    };
    for (const auto& [display, name] : displays) {
        ASSERT_NE(F().EditFor(display), nullptr) << display;
        EXPECT_EQ(F().EditFor(display)->objectName(), name) << display;
        EXPECT_EQ(F().EditFor(display)->text(), name);
    }
    EXPECT_EQ(F().Memo1->document()->blockCount(), 1);
    EXPECT_TRUE(F().Memo1->toPlainText().isEmpty());
    EXPECT_TRUE(F().Edit1->text().isEmpty());
    EXPECT_EQ(F().Label3->text(), QString(36, ' '));
    EXPECT_TRUE(F().RadioButton4->isChecked());
    EXPECT_FALSE(F().RadioButton3->isChecked() || F().RadioButton1->isChecked() ||
                 F().RadioButton2->isChecked());
    // No tick before the message loop runs: the clock stays empty until then.
    QTest::qWait(120);
    EXPECT_FALSE(F().Edit1->text().isEmpty());
}
