// Faults the running program must survive, each followed by proof that it still works.

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <random>

#include "tests/e2e/session.h"
#include "tests/e2e/transfer_file.h"

namespace e2e {
namespace {

using namespace std::string_literals;
namespace c = controls;

class Fault : public Session {
  protected:
    // A test byte clicked now arrives, and nothing else comes with it.
    static void ExpectTestByte(Program& p, Line& line) {
        line.Clear();
        p.Click(c::kDataOut0x55);
        EXPECT_EQ(line.Expect("U"), "U");
    }
};

uid_t NobodyUid() {
    const passwd* pw = ::getpwnam("nobody");
    return pw ? pw->pw_uid : 65534;
}
gid_t NogroupGid() {
    const group* gr = ::getgrnam("nogroup");
    return gr ? gr->gr_gid : 65534;
}

// Only root can run the program, or open a device, as another user.
constexpr const char* kNeedsRoot = "needs root, to run the program as nobody";

std::string CannotOpen(const Session& s, int port, const std::string& reason) {
    const std::string n = std::to_string(port);
    return "quenby: cannot open COM" + n + " (" + s.PortPath(port) + "): " + reason + "\n";
}

TEST_F(Fault, BoardUnpluggedWhileMonitoring_KeepsRunningWithoutSpinAndRecoversOnReselect) {
    auto board = std::make_unique<Board>(*this, 2, std::vector<std::string>{"--rate", "20"});
    Program p(*this);
    ASSERT_NE(p.Window(), 0u);
    ASSERT_TRUE(p.WaitOpen(board->Slave()));
    std::this_thread::sleep_for(1s);

    const std::string pulled = board->Slave();
    board->Process().Signal(SIGKILL);  // the cable comes out: the line hangs up
    ASSERT_TRUE(board->Process().WaitExit(10s));
    std::this_thread::sleep_for(500ms);
    const double cpu0 = p.CpuSeconds();
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(3s);
    const double cpu = p.CpuSeconds() - cpu0;
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    ASSERT_TRUE(p.Running());
    EXPECT_LT(cpu, 0.2 * wall) << "busy on a hung-up line";
    Shot();

    // Plugged in again: the same port name, a new device, picked by selecting the port anew.
    board = std::make_unique<Board>(*this, 2);
    p.Click(c::kCom1);
    EXPECT_TRUE(p.WaitReleased(pulled));
    p.Click(c::kCom2);
    ASSERT_TRUE(p.WaitOpen(board->Slave()));
    p.Click(c::kDataOut0x55);
    EXPECT_TRUE(board->WaitRx("rx 1: 55 | U"));
}

TEST_F(Fault, UnpluggedDuringTransfer_SurvivesAndWorksOnAnotherPort) {
    const TransferFile t = MakeTransferFile(1 << 20, 5);
    Line line, spare;
    Attach(2, line.Slave());
    Attach(1, spare.Slave());
    Program p(*this);
    ASSERT_NE(p.Window(), 0u);
    ASSERT_TRUE(p.Transfer(File("big.s", t.file)));
    line.WaitFor(32 << 10);
    line.Unplug();
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(p.Running());
    Shot();  // shows the failed transfer

    p.Click(c::kCom1);
    ASSERT_TRUE(p.WaitOpen(spare.Slave()));
    EXPECT_TRUE(p.WaitReleased(line.Slave()));
    ExpectTestByte(p, spare);
}

TEST_F(Fault, PortHeldByAnotherProgram_AtStartupAndAtSelection_ReportedInUseAndSurvives) {
    Line com2, com1;
    Attach(2, com2.Slave());
    Attach(1, com1.Slave());
    Holder held2(com2.Slave()), held1(com1.Slave());
    Program p(*this);
    ASSERT_NE(p.Window(), 0u);
    EXPECT_TRUE(p.WaitStderr(CannotOpen(*this, 2, "in use by another program"))) << p.Stderr();
    p.Click(c::kCom1);
    EXPECT_TRUE(p.WaitStderr(CannotOpen(*this, 1, "in use by another program"))) << p.Stderr();
    Shot();
    ASSERT_TRUE(p.Running());
    EXPECT_FALSE(p.HasOpen(com1.Slave()));
    EXPECT_FALSE(p.HasOpen(com2.Slave()));

    // Once the other program lets go, selecting the port opens it.
    held2.Release();
    p.Click(c::kCom2);
    ASSERT_TRUE(p.WaitOpen(com2.Slave()));
    ExpectTestByte(p, com2);
}

TEST_F(Fault, PortNotPermittedForTheUser_PermissionDeniedAndSurvives) {
    if (::geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
    Line denied, allowed;
    denied.Chmod(0600);  // root's alone
    allowed.Chmod(0666);
    Attach(2, denied.Slave());
    Attach(4, denied.Slave());
    Attach(1, allowed.Slave());
    Program p(*this, {.asNobody = true});
    ASSERT_NE(p.Window(), 0u);
    struct stat st {};
    ASSERT_EQ(::stat(("/proc/" + std::to_string(p.Pid())).c_str(), &st), 0);
    ASSERT_EQ(st.st_uid, NobodyUid());

    EXPECT_TRUE(p.WaitStderr(CannotOpen(*this, 2, "Permission denied"))) << p.Stderr();
    p.Click(c::kCom4);
    EXPECT_TRUE(p.WaitStderr(CannotOpen(*this, 4, "Permission denied"))) << p.Stderr();
    Shot();
    p.Click(c::kCom1);
    ASSERT_TRUE(p.WaitOpen(allowed.Slave()));
    ExpectTestByte(p, allowed);
}

TEST_F(Fault, PortOpenedByAnotherInstanceOfTheSameUser_SecondReportsInUseAndOthersAreTurnedAway) {
    if (::geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
    Line shared, other;
    shared.Chmod(0666);
    other.Chmod(0666);
    Attach(2, shared.Slave());
    Attach(1, other.Slave());
    const uid_t uid = NobodyUid();
    const gid_t gid = NogroupGid();
    ASSERT_EQ(OpenErrnoAs(shared.Slave(), uid, gid), 0);

    Program first(*this, {.asNobody = true, .name = "first"});
    ASSERT_NE(first.Window(), 0u);
    ASSERT_TRUE(first.WaitOpen(shared.Slave()));
    // The exclusive flag turns away an opener that takes no lock.
    EXPECT_EQ(OpenErrnoAs(shared.Slave(), uid, gid), EBUSY);
    {
        Program second(*this, {.asNobody = true, .name = "second"});
        ASSERT_NE(second.Window(), 0u);
        EXPECT_TRUE(second.WaitStderr(CannotOpen(*this, 2, "in use by another program")))
            << second.Stderr();
        Shot();
        second.Close();
        EXPECT_EQ(second.WaitExit(60s), 0);
    }

    // Moving to another port hands the old one back to everybody.
    first.Click(c::kCom1);
    ASSERT_TRUE(first.WaitOpen(other.Slave()));
    ASSERT_TRUE(first.WaitReleased(shared.Slave()));
    EXPECT_EQ(OpenErrnoAs(shared.Slave(), uid, gid), 0);
    EXPECT_EQ(OpenErrnoAs(other.Slave(), uid, gid), EBUSY);
    ExpectTestByte(first, other);
}

// ---- What comes in on the wire

struct WireCase {
    const char* name;
    // Feeds the line, checking test bytes on the way.
    std::function<void(Line&, Program&)> feed;
};

void PrintTo(const WireCase& k, std::ostream* os) {
    *os << k.name;
}

class WireInput : public Fault, public ::testing::WithParamInterface<WireCase> {};

// A test byte clicked while input is still coming or queued goes out all the same.
void ExpectTestByteMeanwhile(Program& p, Line& line) {
    const std::size_t before = line.Size();
    p.Click(c::kDataOut0x55);
    const std::string got = line.WaitFor(before + 1, 60s);
    EXPECT_EQ(got.substr(before), "U");
}

std::string Records(std::size_t bytes) {
    std::string out;
    for (unsigned i = 0; out.size() < bytes; ++i) {
        char r[32];
        std::snprintf(r, sizeof r, "ad0:%08uad1:%08u\r\n", (i * 37) % 100000000, i % 9000);
        out += r;
    }
    out.resize(bytes);
    return out;
}

// 28-byte chunks, as one poll reads them, with byte 22 a digit so each is accepted and shown.
std::string Accepted(std::string chunk) {
    chunk.resize(28, '\0');
    chunk[22] = '5';
    return chunk;
}

const WireCase kWireCases[] = {
    {"Burst50000Bytes",
     [](Line& line, Program& p) {
         std::thread sender([&] { line.Send(Records(50000)); });
         ExpectTestByteMeanwhile(p, line);
         sender.join();
         ExpectTestByteMeanwhile(p, line);
         EXPECT_GT(line.Queued(), 0) << "expected a backlog to still be queued";
     }},
    {"RandomBytesForAMinute",
     [](Line& line, Program& p) {
         // Below the program's reading rate, so the stream never piles up.
         std::mt19937 rng(20240601);
         const auto start = Clock::now();
         auto nextCheck = start + 20s;
         while (Clock::now() - start < 60s) {
             std::string chunk(1 + rng() % 40, '\0');
             for (char& b : chunk) b = static_cast<char>(rng());
             line.Send(chunk);
             std::this_thread::sleep_for(std::chrono::milliseconds(20 + rng() % 60));
             if (Clock::now() >= nextCheck) {
                 // The line keeps the terminal's XON/XOFF, so a random XOFF may hold our output
                 // stopped (a write then fails after its time-out rather than freezing): an XON
                 // lets the next test byte through.
                 line.Send("\x11");
                 ExpectTestByteMeanwhile(p, line);
                 nextCheck += 20s;
             }
         }
         line.Send("\x11");
     }},
    {"InvalidCp932Sequences",
     [](Line& line, Program& p) {
         const std::string chunks[] = {
             Accepted("\x80\xa0\xfd\xfe\xff\x80\xa0\xfd\xfe\xff"),      // never valid
             Accepted("\x81\x20\x9f\x0a\xe0\x7f\xfc\xfd\x81\x19\x82"),  // leads, bad trails
             Accepted("\x85\x40\xeb\x40\xf0\x40\xfc\xfc\xa1\xdf"),      // unassigned, private
             Accepted("ad0:\x82\xa0\x81\xff\x81"
                      "ad1:\x9f\xfe\x9f\xfe\x81\x81"),
             Accepted(std::string(27, 'x') + "\x82"),  // a lead byte ends the chunk...
             Accepted("\xa0" + std::string(10, 'y')),  // ...and a bad trail starts the next
         };
         std::string all;
         for (int round = 0; round < 20; ++round)
             for (const auto& k : chunks) all += k;
         line.Send(all);
         ExpectTestByteMeanwhile(p, line);
     }},
    {"ZeroBytes",
     [](Line& line, Program& p) {
         const std::string chunks[] = {
             std::string(28, '\0'),                                  // not accepted
             Accepted(""),                                           // accepted, empty
             Accepted("ad0:\0\0\0\0\0\0\0\0ad1:\0\0\0\0\0\0\0\0"s),  // empty fields
             Accepted("ad0:12\0\0\0\0\0\0ad1:\0\0003\0\0\0\0\0"s),   // fields cut short
             Accepted("a\0d0:\0ad0\0"s),
         };
         std::string all;
         for (int round = 0; round < 20; ++round)
             for (const auto& k : chunks) all += k;
         all += std::string(2000, '\0');
         line.Send(all);
         ExpectTestByteMeanwhile(p, line);
     }},
};

TEST_P(WireInput, ConsumedWhileTheProgramStaysResponsive) {
    auto [line, p] = Start();
    GetParam().feed(line, p);
    EXPECT_TRUE(line.WaitDrained(300s)) << line.Queued() << " bytes still queued";
    ASSERT_TRUE(p.Running());
    Shot();
    ExpectTestByte(p, line);
    p.Close();
    EXPECT_EQ(p.WaitExit(60s), 0);
}

INSTANTIATE_TEST_SUITE_P(Fault, WireInput, ::testing::ValuesIn(kWireCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Files

TEST_F(Fault, TenMebibyteFile_ArrivesByteExact) {
    const TransferFile t = MakeTransferFile(10 << 20, 3);
    auto [line, p] = Start();
    ASSERT_TRUE(p.Transfer(File("ten.s", t.file)));
    const std::string got = line.Expect(t.wire, 600s);
    EXPECT_TRUE(got == t.wire) << Difference(got, t.wire);
    Shot();
    ExpectTestByte(p, line);
}

TEST_F(Fault, FileGoneAfterItWasChosen_NothingSentAndSurvives) {
    auto [line, p] = Start();
    const std::string path = File("gone.s", "S0030000FC\n");
    ASSERT_TRUE(p.ChooseFile(path, [&] { ASSERT_EQ(::unlink(path.c_str()), 0); }));
    ASSERT_TRUE(WaitUntil([&] { return !p.DialogOpen(); }, 60s));
    std::this_thread::sleep_for(1s);
    Shot();
    EXPECT_EQ(line.Size(), 0u);
    ExpectTestByte(p, line);
}

TEST_F(Fault, DirectoryChosenAsTheFile_DialogEntersItNothingSentAndSurvives) {
    auto [line, p] = Start();
    const std::string dir = Dir() + "/records";
    ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
    File("records/inside.s", "S0030000FC\n");
    ASSERT_TRUE(p.ChooseFile(dir));
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(p.DialogOpen()) << "a directory was accepted as the file";
    Shot();  // the dialog, now inside the directory
    // The user closes the dialog with its close box.
    std::string dialogs;
    e2e::Run({"xdotool", "search", "--all", "--onlyvisible", "--pid", std::to_string(p.Pid()),
              "--name", "^Open$"},
             &dialogs);
    ASSERT_FALSE(dialogs.empty());
    EXPECT_EQ(e2e::Run({BinPath("quenby-close-window"), dialogs.substr(0, dialogs.find('\n'))}), 0);
    ASSERT_TRUE(WaitUntil([&] { return !p.DialogOpen(); }, 30s));
    EXPECT_EQ(p.VisibleWindows().size(), 1u) << "something of the dialog stayed on screen";
    EXPECT_EQ(line.Size(), 0u);
    ExpectTestByte(p, line);
}

}  // namespace
}  // namespace e2e
