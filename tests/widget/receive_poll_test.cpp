#include <termios.h>

#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTextBlock>
#include <QTimer>

#include <algorithm>
#include <clocale>

#include "platform/time_of_day.h"
#include "tests/widget/form_fixture.h"

namespace {

std::string Record(const std::string& f0, const std::string& f1) {
    return "ad0:" + f0 + "ad1:" + f1;
}

// Records every edit's text changes, in the order they happen.
class EditRecorder {
  public:
    explicit EditRecorder(TForm1& f) {
        for (QLineEdit* e :
             {f.Edit1, f.Edit2, f.Edit4, f.Edit5, f.Edit6, f.Edit7, f.Edit8, f.Edit9}) {
            QObject::connect(e, &QLineEdit::textChanged, e, [this, e](const QString& t) {
                changes.push_back(e->objectName().toStdString() + "=" + t.toStdString());
            });
        }
    }
    std::vector<std::string> changes;
};

class PollTest : public FormTest {
  protected:
    void SetUp() override {
        MakeForm();
        F().Timer1->stop();  // ticks are run by hand
    }
    // Sends bytes from the board and runs one tick once they are all waiting.
    void SendAndTick(const std::string& bytes) {
        Port(2).Send(bytes);
        WaitUntilWaiting(bytes.size());
        F().Timer1Timer();
    }
    static void WaitUntilWaiting(std::size_t n) {
        for (int i = 0; i < 200; ++i) {
            DWORD errors = 0;
            COMSTAT st{};
            ClearCommError(hComm, &errors, &st);
            if (st.cbInQue >= n) return;
            QTest::qWait(5);
        }
    }
    QStringList MonitorLines() { return F().Memo1->toPlainText().split('\n'); }
};

}  // namespace

TEST_F(PollTest, NothingWaitingChangesOnlyTheClock) {
    EditRecorder rec(F());
    F().Timer1Timer();
    ASSERT_EQ(rec.changes.size(), 1u);
    EXPECT_EQ(rec.changes[0].rfind("Edit1=", 0), 0u);
    EXPECT_EQ(F().Memo1->document()->blockCount(), 1);
}

TEST_F(PollTest, TwentyTwoBytesAreReadAndDropped) {
    EditRecorder rec(F());
    SendAndTick(Record("00000001", "000000"));
    EXPECT_EQ(rec.changes.size(), 1u);
    EXPECT_EQ(F().Memo1->document()->blockCount(), 1);
    F().Timer1Timer();  // they were taken from the port
    EXPECT_EQ(F().Memo1->document()->blockCount(), 1);
}

TEST_F(PollTest, AcceptedChunkWithoutTagIsLoggedOnly) {
    EditRecorder rec(F());
    SendAndTick(std::string(24, 'x'));
    EXPECT_EQ(MonitorLines(), QStringList({"", QString(24, 'x')}));
    EXPECT_EQ(rec.changes.size(), 1u);
    EXPECT_EQ(F().Edit4->text(), "Edit4");
}

TEST_F(PollTest, RecordUpdatesEditsInOrderThenTheClock) {
    EditRecorder rec(F());
    SendAndTick(Record("00001234", "  -00012"));
    const std::vector<std::string> expectedHead = {"Edit4=ad0:00001234ad1:  -00012",
                                                   "Edit2=00001234",
                                                   "Edit5=00001234",
                                                   "Edit6=0",
                                                   "Edit8=  -00012",
                                                   "Edit9=12"};
    ASSERT_EQ(rec.changes.size(), expectedHead.size() + 1);
    EXPECT_EQ(std::vector<std::string>(rec.changes.begin(), rec.changes.end() - 1), expectedHead);
    EXPECT_EQ(rec.changes.back().rfind("Edit1=", 0), 0u);
    EXPECT_EQ(MonitorLines(), QStringList({"", "ad0:00001234ad1:  -00012"}));
    EXPECT_EQ(F().Edit7->text(), "Edit7");
    EXPECT_EQ(F().ad1Min, -12);
}

TEST_F(PollTest, MoreThanTwentyEightBytesWaitForTheNextTicks) {
    const std::string line = Record("00000100", "00000200") + "\r\n--";  // 28 bytes
    SendAndTick(line + line + line + "tail");
    EXPECT_EQ(F().Memo1->document()->blockCount(), 2);  // one chunk per tick
    F().Timer1Timer();
    F().Timer1Timer();
    F().Timer1Timer();  // the last 4 bytes: read and rejected
    const QString shown = QString::fromUtf8("ad0:00000100ad1:00000200^M^J--");
    EXPECT_EQ(MonitorLines(), QStringList({"", shown, shown, shown}));
    EXPECT_EQ(F().Edit4->text(), shown);
    DWORD errors = 0;
    COMSTAT st{};
    ClearCommError(hComm, &errors, &st);
    EXPECT_EQ(st.cbInQue, 0u);
}

TEST_F(PollTest, MonClrEmptiesTheMonitorAndKeepsEverythingElse) {
    SendAndTick(Record("00000100", "00000200"));
    F().Button3->click();
    EXPECT_TRUE(F().Memo1->toPlainText().isEmpty());
    EXPECT_EQ(F().Edit2->text(), "00000100");
    EXPECT_EQ(F().ad0Max, 100);
    SendAndTick(Record("00000300", "00000200"));
    EXPECT_EQ(F().Memo1->document()->blockCount(), 1);
    EXPECT_EQ(F().Memo1->toPlainText(), "ad0:00000300ad1:00000200");
}

TEST_F(PollTest, ChunkTextsAreShownAsCodePage932) {
    // "ad0:" + field, then a katakana pair and an invalid lead byte at the end.
    SendAndTick(Record("00000001", "00000002") + "\x83\x41" + "\x81");
    EXPECT_EQ(MonitorLines()[1], QString::fromUtf8("ad0:00000001ad1:00000002ア^Z"));
}

TEST_F(PollTest, ClearButtonsResetOneChannelEach) {
    SendAndTick(Record("00000100", "00000200"));
    F().CLR0->click();
    EXPECT_EQ(F().ad0Max, 0);
    EXPECT_EQ(F().ad0Min, 99999999);
    EXPECT_EQ(F().ad1Max, 200);
    EXPECT_EQ(F().Edit2->text(), "00000100");  // displays keep their texts
    F().CLR1->click();
    EXPECT_EQ(F().ad1Min, 99999999);
    SendAndTick(Record("00000050", "99999999"));
    EXPECT_EQ(F().Edit2->text(), "00000050");
    EXPECT_EQ(F().Edit5->text(), "00000050");
    EXPECT_EQ(F().Edit6->text(), "0");
    EXPECT_EQ(F().Edit7->text(), "99999999");
    EXPECT_EQ(F().Edit8->text(), "00000200");  // 99999999 is not below the reset minimum
}

namespace {

// The width the clock's text area leaves for its text.
int ClockRoom(QLineEdit* edit) {
    QStyleOptionFrame frame;
    frame.initFrom(edit);
    frame.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, edit);
    return edit->style()->subElementRect(QStyle::SE_LineEditContents, &frame, edit).width() - 4;
}

// Sets LC_TIME for as long as it lives.
class ScopedTimeLocale {
  public:
    explicit ScopedTimeLocale(const char* name) : old_(std::setlocale(LC_TIME, nullptr)) {
        ok_ = std::setlocale(LC_TIME, name) != nullptr;
    }
    ~ScopedTimeLocale() { std::setlocale(LC_TIME, old_.c_str()); }
    bool Ok() const { return ok_; }

  private:
    std::string old_;
    bool ok_ = false;
};

}  // namespace

TEST_F(PollTest, ClockShowsTheTimeOfDayAndMoves) {
    F().Timer1Timer();
    const QString first = F().Edit1->text();
    EXPECT_TRUE(QRegularExpression("^\\d{1,2}:\\d{2}:\\d{2}").match(first).hasMatch())
        << first.toStdString();
    EXPECT_LE(F().Edit1->fontMetrics().horizontalAdvance(first), ClockRoom(F().Edit1));
    QTest::qWait(1100);
    F().Timer1Timer();
    EXPECT_NE(F().Edit1->text(), first);
}

TEST_F(PollTest, ClockReadsInTheLocalesFormAndEachTwentyFourHourFormFits) {
    struct LocaleCase {
        const char* locale;
        const char* at155308;
        const char* at090507;
        bool twentyFourHour;
    };
    const std::vector<LocaleCase> cases = {
        {"C", "15:53:08", "09:05:07", true},
        {"ja_JP.UTF-8", "15:53:08", "09:05:07", true},
        {"en_US.UTF-8", "03:53:08 PM", "09:05:07 AM", false},
        {"de_DE.UTF-8", "15:53:08", "09:05:07", true},
    };
    for (const auto& c : cases) {
        const ScopedTimeLocale locale(c.locale);
        ASSERT_TRUE(locale.Ok()) << c.locale << " is missing: scripts/install-deps.sh makes it";
        const TimeFormat format = LocaleTimeFormat();
        EXPECT_EQ(FormatTimeOfDay(format, 15, 53, 8), c.at155308) << c.locale;
        EXPECT_EQ(FormatTimeOfDay(format, 9, 5, 7), c.at090507) << c.locale;
        if (!c.twentyFourHour) continue;
        // The widest of every hour with the widest and narrowest minute and second digits.
        int widest = 0;
        for (int h = 0; h < 24; ++h)
            for (const int ms : {0, 8, 11, 48, 59}) {
                const QString text = QString::fromStdString(FormatTimeOfDay(format, h, ms, ms));
                widest = std::max(widest, F().Edit1->fontMetrics().horizontalAdvance(text));
            }
        EXPECT_LE(widest, ClockRoom(F().Edit1)) << c.locale;
    }
}

// The window takes the locale's format when it is built; a Japanese locale reads as digits.
TEST_F(FormTest, ClockUnderAJapaneseLocaleShowsTheWholeTime) {
    const ScopedTimeLocale locale("ja_JP.UTF-8");
    ASSERT_TRUE(locale.Ok());
    MakeForm();
    F().Timer1->stop();
    F().Timer1Timer();
    EXPECT_TRUE(QRegularExpression("^\\d{2}:\\d{2}:\\d{2}$").match(F().Edit1->text()).hasMatch())
        << F().Edit1->text().toStdString();
}

// The monitor's view.

// Whether the monitor's line `n` lies wholly inside its viewport.
static bool LineShown(TMemo* memo, int n) {
    const QTextCursor at(memo->document()->findBlockByNumber(n));
    return memo->viewport()->rect().contains(memo->cursorRect(at));
}

TEST_F(PollTest, MonitorFollowsNewLinesUnlessScrolledUp) {
    F().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&F()));
    TMemo* memo = F().Memo1;
    QScrollBar* bar = memo->verticalScrollBar();
    for (int i = 0; i < 20; ++i) SendAndTick(Record("0000" + std::to_string(1000 + i), "00000002"));
    QTest::qWait(0);
    const int last = memo->document()->blockCount() - 1;
    ASSERT_EQ(last, 20);
    EXPECT_FALSE(LineShown(memo, 0)) << "more lines than fit";
    EXPECT_TRUE(LineShown(memo, last));

    // The user scrolls up: new lines leave the view where it is.
    bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    const int readingAt = bar->value();
    ASSERT_LT(readingAt, bar->maximum());
    for (int i = 0; i < 5; ++i) SendAndTick(Record("0000" + std::to_string(2000 + i), "00000002"));
    QTest::qWait(0);
    EXPECT_EQ(bar->value(), readingAt);
    EXPECT_FALSE(LineShown(memo, memo->document()->blockCount() - 1));

    // Back at the end, it follows again.
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    for (int i = 0; i < 3; ++i) SendAndTick(Record("0000" + std::to_string(3000 + i), "00000002"));
    QTest::qWait(0);
    EXPECT_TRUE(LineShown(memo, memo->document()->blockCount() - 1));
    EXPECT_EQ(bar->value(), bar->maximum());

    // After MON_CLR the first lines show from the top, and later ones are followed.
    F().Button3->click();
    for (int i = 0; i < 20; ++i) SendAndTick(Record("0000" + std::to_string(4000 + i), "00000002"));
    QTest::qWait(0);
    EXPECT_TRUE(LineShown(memo, memo->document()->blockCount() - 1));
    EXPECT_EQ(memo->document()->lastBlock().text(), "ad0:00004019ad1:00000002");
}

// Port buttons.

TEST_F(FormTest, CheckedPortButtonDoesNotReopen) {
    MakeForm();
    F().Timer1->stop();
    Port(2).Send("waiting");
    const HANDLE before = hComm;
    Choose(F().RadioButton4);
    EXPECT_EQ(hComm, before);
    EXPECT_EQ(F().Label3->text(), QString(36, ' '));
    QTest::qWait(50);
    DWORD errors = 0;
    COMSTAT st{};
    ClearCommError(hComm, &errors, &st);
    EXPECT_EQ(st.cbInQue, 7u);  // its input is untouched
}

TEST_F(FormTest, PortChangeReleasesTheOldDeviceAndOpensTheNewAtItsRate) {
    MakeForm();
    struct Case {
        QRadioButton* button;
        int port;
        speed_t speed;
        const char* status;
    };
    const std::vector<Case> cases = {
        {F().RadioButton1, 3, B38400, "COM3を開きました"},
        {F().RadioButton3, 1, B115200, "COM1を開きました"},
        {F().RadioButton2, 4, B115200, "COM4を開きました"},
        {F().RadioButton4, 2, B115200, "COM2を開きました"},
    };
    int previous = 2;
    for (const auto& c : cases) {
        Choose(c.button);
        EXPECT_TRUE(c.button->isChecked());
        EXPECT_EQ(F().Label3->text(), QString::fromUtf8(c.status));
        termios t{};
        ASSERT_EQ(tcgetattr(Port(c.port).Master(), &t), 0);
        EXPECT_EQ(cfgetospeed(&t), c.speed) << c.status;
        // The previous device is free for another program again.
        const HANDLE other =
            CreateFileA(Port(previous).SlavePath().c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(other, INVALID_HANDLE_VALUE) << "COM" << previous << " still held";
        CloseHandle(other);
        // The new one is held.
        EXPECT_EQ(CreateFileA(Port(c.port).SlavePath().c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                              nullptr, OPEN_EXISTING, 0, nullptr),
                  INVALID_HANDLE_VALUE);
        previous = c.port;
    }
}

TEST_F(FormTest, PortThatCannotOpenIsShownAndAnotherSelectionRecovers) {
    MakeMissing(2);
    MakeMissing(4);
    MakeForm();
    EXPECT_EQ(F().Label3->text(), QString::fromUtf8("COM2を開けませんでした"));
    EXPECT_TRUE(F().RadioButton4->isChecked());
    Choose(F().RadioButton2);
    EXPECT_TRUE(F().RadioButton2->isChecked());
    EXPECT_EQ(F().Label3->text(), QString::fromUtf8("COM4を開けませんでした"));
    F().Timer1Timer();  // polls read nothing, the clock still runs
    EXPECT_FALSE(F().Edit1->text().isEmpty());
    Choose(F().RadioButton3);
    EXPECT_EQ(F().Label3->text(), QString::fromUtf8("COM1を開きました"));
    EXPECT_EQ(F().Label3->size(), F().Label3->sizeHint()) << "sized to each later text";
}
