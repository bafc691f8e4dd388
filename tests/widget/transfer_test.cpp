#include <QFileDialog>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>

#include "platform/beep.h"
#include "tests/support/far_end.h"
#include "tests/support/line_rate_reader.h"
#include "tests/support/percentile.h"
#include "tests/support/temp_dir.h"
#include "tests/widget/form_fixture.h"
#include "transmit/text_rules.h"

namespace {

using namespace std::chrono_literals;
using quenby_test::FarEnd;
using quenby_test::LineRateReader;
using quenby_test::Percentile;

std::string Joined(const std::vector<std::string>& writes) {
    std::string all;
    for (const auto& w : writes) all += w;
    return all;
}

class TransferTest : public FormTest {
  protected:
    void SetUp() override {
        MakeForm();
        SetBeepObserver([this] { beeps_.push_back(F().Label3->text().toStdString()); });
    }
    void TearDown() override {
        SetBeepObserver(nullptr);
        FormTest::TearDown();
    }
    std::string File(const std::string& name, const std::string& bytes) {
        return dir_.Write(name, bytes);
    }
    // Answers the next file dialog with `path`, or cancels it when path is empty.
    void AnswerDialog(const std::string& path) {
        QTimer::singleShot(0, &F(), [this, path] {
            if (path.empty()) return F().OpenDialog1->reject();
            // Typed into the file name box, as a user would.
            auto* name = F().OpenDialog1->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(name, nullptr);
            name->setText(QString::fromStdString(path));
            static_cast<QDialog*>(F().OpenDialog1)->accept();
            ASSERT_FALSE(F().OpenDialog1->isVisible()) << "the dialog refused " << path;
        });
    }
    // Chooses a file in the dialog and runs the transfer to its end.
    void Transfer(const std::string& path) {
        AnswerDialog(path);
        F().Button2->click();
    }
    // Runs `action` once, between two writes, after the far side has received `n` bytes.
    void WhenReceived(FarEnd& far, std::size_t n, std::function<void()> action) {
        auto* watch = new QTimer(&F());
        QObject::connect(watch, &QTimer::timeout, watch, [watch, &far, n, action] {
            if (far.Size() < n) return;
            watch->stop();
            watch->deleteLater();
            action();
        });
        watch->start(1);
    }
    quenby_test::TempDir dir_{"quenby-transfer"};
    std::vector<std::string> beeps_;  // the status text at each beep
};

}  // namespace

TEST_F(TransferTest, RandomFilesArriveByteForByteUnderTheTextRules) {
    std::mt19937 rng(42);
    for (std::size_t size :
         {std::size_t{0}, std::size_t{1}, std::size_t{4096}, std::size_t{1} << 20}) {
        std::string bytes(size, '\0');
        for (auto& b : bytes) {
            const unsigned v = rng() % 256;
            b = static_cast<char>(v == 0x1A ? 0x0A : v);  // keep Ctrl-Z for the last quarter
        }
        if (size >= 4096) bytes[size - size / 4] = 0x1A;
        for (unsigned v = 0; v < 256 && size == 4096; ++v)
            bytes[v] = static_cast<char>(v == 0x1A ? 0 : v);
        const std::string expected = Joined(transmit::WritesForFile(bytes));
        FarEnd far(Port(2).Master());
        Transfer(File("random.s", bytes));
        EXPECT_EQ(far.WaitFor(expected.size()), expected) << size << " bytes";
        EXPECT_EQ(F().Label3->text(), QString::fromUtf8("ファイル転送終了しました"));
    }
}

TEST_F(TransferTest, CancelledDialogChangesNothing) {
    FarEnd far(Port(2).Master());
    Transfer("");
    EXPECT_TRUE(beeps_.empty());
    EXPECT_EQ(F().Label3->text(), QString(36, ' '));
    EXPECT_EQ(far.WaitFor(1, 200ms), "");
}

TEST_F(TransferTest, StatusTextsAndBeepsAtEachStep) {
    struct Case {
        const char* what;
        std::string path;  // empty: the file is made from `bytes`
        std::string bytes;
        std::vector<std::string> beeps;  // status text at each beep
        const char* finalText;
        std::string onLine;
    };
    const std::vector<Case> cases = {
        {"empty",
         "",
         "",
         {"                                    ", "ファイル転送終了しました"},
         "ファイル転送終了しました",
         ""},
        {"starts with Ctrl-Z",
         "",
         "\x1a"
         "AB",
         {"ファイル転送終了しました", "ファイル転送終了しました"},
         "ファイル転送終了しました",
         ""},
        {"missing file",
         "missing.s",
         "",
         {"ファイル転送終了しました"},
         "ファイルを開けませんでした",
         ""},
        {"lines",
         "",
         "S1\r\nS9\n",
         {"ファイルを開けませんでした", "ファイル転送終了しました"},
         "ファイル転送終了しました",
         "S1\r\nS9\r\n"},
    };
    FarEnd far(Port(2).Master());
    std::size_t seen = 0;
    for (const auto& c : cases) {
        beeps_.clear();
        Transfer(c.path.empty() ? File("f.hex", c.bytes) : dir_.File(c.path));
        EXPECT_EQ(beeps_, c.beeps) << c.what;  // the first beep sounds before the status text
        EXPECT_EQ(F().Label3->text(), QString::fromUtf8(c.finalText)) << c.what;
        const std::string got = far.WaitFor(seen + c.onLine.size(), 300ms);
        EXPECT_EQ(got.substr(seen), c.onLine) << c.what;
        seen = got.size();
    }
}

TEST_F(TransferTest, WindowStaysLiveAndTestBytesNeverSplitALineEnd) {
    std::string bytes;
    for (int i = 0; i < 3000; ++i) bytes += "S1130000" + std::to_string(i) + "\n";
    const std::string expected = Joined(transmit::WritesForFile(bytes));
    FarEnd far(Port(2).Master());
    int clicks = 0;
    QTimer presser;
    QObject::connect(&presser, &QTimer::timeout, [&] {
        if (clicks++ < 20) F().Button1->click();
        F().CLR0->click();
        F().Button3->click();
    });
    presser.start(5);
    const QString clockBefore = F().Edit1->text();
    Transfer(File("prog.s", bytes));
    presser.stop();
    ASSERT_GT(clicks, 0);
    const std::string got = far.WaitFor(expected.size() + std::min(clicks, 20));
    EXPECT_EQ(got.find("\r\x55"), std::string::npos);
    std::string withoutTestBytes;
    for (char c : got)
        if (c != 0x55) withoutTestBytes.push_back(c);
    EXPECT_EQ(withoutTestBytes, expected);
    EXPECT_EQ(got.size() - withoutTestBytes.size(), static_cast<std::size_t>(std::min(clicks, 20)));
    EXPECT_NE(F().Edit1->text(), clockBefore);  // ticks ran during the transfer
}

TEST_F(TransferTest, NestedTransferSendsItsWholeFileFirst) {
    const std::string outer(100000, 'o');
    const std::string inner = "inner\n";
    const std::string innerPath = File("inner.s", inner);
    FarEnd far(Port(2).Master());
    bool nested = false;
    WhenReceived(far, 1000, [&] {
        nested = true;
        AnswerDialog(innerPath);
        F().Button2->click();
    });
    Transfer(File("outer.s", outer));
    ASSERT_TRUE(nested);
    EXPECT_EQ(beeps_.size(), 4u);
    const std::string got = far.WaitFor(outer.size() + inner.size() + 1);
    const std::size_t at = got.find("inner\r\n");
    ASSERT_NE(at, std::string::npos);
    EXPECT_GT(at, 0u);
    EXPECT_EQ(got.substr(0, at) + got.substr(at + 7), outer);
    EXPECT_EQ(beeps_.size(), 4u);
}

TEST_F(TransferTest, PortSelectedMidTransferGetsTheRest) {
    const std::string bytes(200000, 'p');
    FarEnd com2(Port(2).Master());
    FarEnd com1(Port(1).Master());
    WhenReceived(com2, 1000, [&] { QTest::mouseClick(F().RadioButton3, Qt::LeftButton); });
    Transfer(File("p.s", bytes));
    const std::string first = com2.Got();
    const std::string rest = com1.WaitFor(bytes.size() - first.size());
    EXPECT_GT(first.size(), 0u);
    EXPECT_GT(rest.size(), 0u);
    EXPECT_EQ(first + rest, bytes);
    EXPECT_EQ(F().Label3->text(), QString::fromUtf8("ファイル転送終了しました"));
}

TEST_F(TransferTest, UnpluggedBoardStopsTheTransferWithTheFailureText) {
    const std::string bytes(200000, 'u');
    std::size_t before = 0;
    {
        FarEnd far(Port(2).Master());
        WhenReceived(far, 1000, [&] {
            far.Stop();
            before = far.Got().size();
            Port(2).CloseMaster();
        });
        Transfer(File("u.s", bytes));
    }
    EXPECT_LT(before, bytes.size());
    EXPECT_EQ(F().Label3->text(), QString::fromUtf8("ファイル転送に失敗しました"));
    ASSERT_EQ(beeps_.size(), 2u);
}

TEST_F(TransferTest, TestByteOnAClosedPortSaysItFailed) {
    FarEnd far(Port(2).Master());
    F().Button4->click();
    EXPECT_EQ(F().Label3->text(), QString::fromUtf8("0xAAデータ送信"));
    EXPECT_EQ(far.WaitFor(1), "\xAA");
    F().Button1->click();
    F().Button1->click();
    EXPECT_EQ(far.WaitFor(3), "\xAA\x55\x55");
    EXPECT_EQ(beeps_,
              std::vector<std::string>({"0xAAデータ送信", "0x55データ送信", "0x55データ送信"}));
    far.Stop();
    Port(2).CloseMaster();
    F().Button1->click();
    EXPECT_EQ(F().Label3->text(), QString::fromUtf8("0x55データ送信失敗"));
    EXPECT_EQ(beeps_.size(), 4u);
}

TEST_F(TransferTest, CloseDuringATransferWaitsForItsEnd) {
    F().show();
    const std::string bytes(200000, 'c');
    FarEnd far(Port(2).Master());
    bool visibleAfterClose = false;
    WhenReceived(far, 1000, [&] {
        F().close();
        visibleAfterClose = F().isVisible();
    });
    Transfer(File("c.s", bytes));
    EXPECT_TRUE(visibleAfterClose);
    EXPECT_EQ(far.WaitFor(bytes.size()), bytes);
    for (int i = 0; i < 50 && F().isVisible(); ++i) QTest::qWait(10);
    EXPECT_FALSE(F().isVisible());
}

TEST_F(TransferTest, DialogOffersBothFiltersAndMatchesAnyCase) {
    File("PROG.S", "x");
    File("other.txt", "x");
    File("data.Hex", "x");
    const QStringList filters = F().OpenDialog1->nameFilters();
    ASSERT_EQ(filters.size(), 2);
    EXPECT_TRUE(filters[0].startsWith(QString::fromUtf8("Sファイル(*.S)")));
    EXPECT_TRUE(filters[1].startsWith(QString::fromUtf8("HEXファイル(*.HEX)")));
    EXPECT_EQ(F().OpenDialog1->fileMode(), QFileDialog::AnyFile);
    // What the open dialog itself lists under each filter (files only; the model loads them
    // in the background).
    QFileDialog* dialog = F().OpenDialog1;
    dialog->setDirectory(QString::fromStdString(dir_.Path()));
    dialog->open();
    auto* list = dialog->findChild<QListView*>("listView");
    ASSERT_NE(list, nullptr);
    auto listed = [&](int filter) {
        dialog->selectNameFilter(dialog->nameFilters()[filter]);
        QStringList names;
        for (int i = 0; i < 200; ++i) {
            QTest::qWait(10);
            names.clear();
            const QModelIndex root = list->rootIndex();
            for (int r = 0; r < list->model()->rowCount(root); ++r)
                names << list->model()->index(r, 0, root).data().toString();
            if (!names.isEmpty()) break;
        }
        names.sort();
        return names;
    };
    EXPECT_EQ(listed(0), QStringList({"PROG.S"}));
    EXPECT_EQ(listed(1), QStringList({"data.Hex"}));
    dialog->reject();
}

namespace {

// Lines whose text tells where they stand, so a lost or repeated stretch shows.
std::string NumberedLines(int count) {
    std::string bytes;
    char line[32];
    for (int i = 0; i < count; ++i) {
        std::snprintf(line, sizeof line, "S1130000%06d\n", i);
        bytes += line;
    }
    return bytes;
}

// A transfer whose line is full: COM2's far end reads at a line's rate, or not at all. A spare
// descriptor below the port's is held from before the window opens, so that a port opened later
// can be given another descriptor number than the one it replaces.
class FullLineTest : public TransferTest {
  protected:
    void SetUp() override {
        spare_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ASSERT_GE(spare_, 0);
        TransferTest::SetUp();
    }
    void TearDown() override {
        if (spare_ >= 0) ::close(spare_);
        TransferTest::TearDown();
    }
    void FreeSpareDescriptor() {
        ::close(spare_);
        spare_ = -1;
    }
    int spare_ = -1;
};

}  // namespace

TEST_F(FullLineTest, TicksAndTestBytesGoOnWhileTheLineTakesBytesAtItsRate) {
    const std::string bytes = NumberedLines(2500);  // 40,000 bytes on the line: 3.5 s at 115200
    const std::string expected = Joined(transmit::WritesForFile(bytes));
    LineRateReader far(Port(2).Master(), 11520);
    std::vector<std::chrono::steady_clock::time_point> ticks;
    QObject::connect(F().Timer1, &QTimer::timeout, &F(),
                     [&] { ticks.push_back(std::chrono::steady_clock::now()); });
    int presses = 0;
    QTimer presser;
    QObject::connect(&presser, &QTimer::timeout, [&] {
        if (presses < 20) ++presses, F().Button1->click();
    });
    presser.start(70);
    AnswerDialog(File("line.s", bytes));
    const auto start = std::chrono::steady_clock::now();
    ticks.clear();
    F().Button2->click();
    const auto end = std::chrono::steady_clock::now();
    presser.stop();

    std::vector<double> gaps;
    for (std::size_t i = 1; i < ticks.size(); ++i)
        gaps.push_back(std::chrono::duration<double, std::milli>(ticks[i] - ticks[i - 1]).count());
    const double ms = std::chrono::duration<double, std::milli>(end - start).count();
    std::printf("transfer %.0f ms, %zu ticks, gaps p50 %.1f p90 %.1f max %.1f ms\n", ms,
                ticks.size(), Percentile(gaps, 50), Percentile(gaps, 90), Percentile(gaps, 100));
    EXPECT_GT(ms, 500.0) << "the line was never full";
    EXPECT_GE(static_cast<double>(ticks.size()), ms / 100) << "ticks stalled during the transfer";
    EXPECT_EQ(F().Label3->text(), QString::fromUtf8("ファイル転送終了しました"));

    const std::string got = far.WaitFor(expected.size() + presses, std::chrono::seconds(10));
    EXPECT_EQ(got.find("\r\x55"), std::string::npos) << "a test byte split a line end";
    std::string withoutTestBytes;
    for (char c : got)
        if (c != 0x55) withoutTestBytes.push_back(c);
    EXPECT_TRUE(withoutTestBytes == expected)
        << "received " << withoutTestBytes.size() << " of " << expected.size() << " bytes";
    EXPECT_EQ(got.size() - withoutTestBytes.size(), static_cast<std::size_t>(presses));
}

TEST_F(FullLineTest, PortSelectedWhileTheLineIsFullGetsTheRestOfTheFile) {
    const std::string bytes = NumberedLines(6000);
    const std::string expected = Joined(transmit::WritesForFile(bytes));
    FarEnd com1(Port(1).Master());
    std::string first;  // COM2's far end reads nothing until the line is full, then all of it
    bool switched = false;
    QTimer::singleShot(300, &F(), [&] {
        // The transfer waits for room on COM2 here. Its far end now takes everything queued, and
        // COM1, opened on another descriptor number, replaces it.
        ASSERT_EQ(F().Label3->text(), QString::fromUtf8("ファイル転送中です"));
        first = Port(2).Receive(SIZE_MAX, 100);
        FreeSpareDescriptor();
        Choose(F().RadioButton3);
        switched = true;
    });
    Transfer(File("switch.s", bytes));
    ASSERT_TRUE(switched);
    EXPECT_EQ(F().Label3->text(), QString::fromUtf8("ファイル転送終了しました"));
    EXPECT_EQ(Port(2).Receive(SIZE_MAX, 100), "") << "COM2 got bytes after the switch";
    ASSERT_GT(first.size(), 4096u) << "the line was not full at the switch";
    ASSERT_LT(first.size(), expected.size());
    const std::string rest = com1.WaitFor(expected.size() - first.size());
    EXPECT_TRUE(first + rest == expected) << "COM2 got " << first.size() << " bytes, COM1 "
                                          << rest.size() << ", of " << expected.size();
}
