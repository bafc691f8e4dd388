#include "tests/e2e/board.h"

#include <sstream>

#include "tests/e2e/session.h"

namespace e2e {

Board::Board(Session& session, int port, const std::vector<std::string>& args)
    : child_(
          [&] {
              std::vector<std::string> argv{BinPath("quenby-board"), "--link",
                                            session.PortPath(port)};
              argv.insert(argv.end(), args.begin(), args.end());
              return argv;
          }(),
          session.BaseEnv(), session.Dir() + "/board" + std::to_string(port) + ".out",
          session.Dir() + "/board" + std::to_string(port) + ".err") {
    WaitUntil(
        [&] {
            const std::string out = child_.Out();
            if (out.find('\n') == std::string::npos) return !child_.Running();
            slave_ = out.substr(0, out.find('\n'));
            return true;
        },
        30s);
    if (slave_.empty()) ADD_FAILURE() << "board did not start:\n" << child_.Err();
}

std::vector<std::string> Board::RxLines() const {
    std::vector<std::string> lines;
    std::istringstream s(child_.Out());
    std::string line;
    while (std::getline(s, line))
        if (line.starts_with("rx ")) lines.push_back(line);
    return lines;
}

bool Board::WaitRx(const std::string& line, Clock::duration limit) const {
    return WaitUntil(
        [&] {
            for (const auto& l : RxLines())
                if (l == line) return true;
            return false;
        },
        limit);
}

}  // namespace e2e
