// zelkctl: its setting files, ID counter and log; what it sends and when; and every command
// against zelksim on a real pseudo-terminal, with the exit codes faults provoke.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <numeric>
#include <regex>
#include <set>
#include <sstream>
#include <tuple>
#include <utility>

#include "core/params/config_text.h"
#include "core/params/parameter_set.h"
#include "core/product/series.h"
#include "tests/support/panel_fixture.h"
#include "tests/support/scoped.h"
#include "tests/support/together.h"
#ifndef _WIN32
#include "tests/support/zelksim_process.h"
#endif
#include "runtime/timing/clock_seam.h"
#include "tools/zelkctl/id_counter.h"
#include "tools/zelkctl/interrupt.h"
#include "tools/zelkctl/log_file.h"
#include "tools/zelkctl/request.h"
#include "tools/zelkctl/setting_file.h"
#include "tools/zelkctl/zelkctl.h"

// Rows and module options name only what they change; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

std::string Write(const QTemporaryDir& folder, const std::string& name, const std::string& text) {
    const std::string path = folder.filePath(QString::fromStdString(name)).toStdString();
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// The records as "S111=5 S120=10.20".
std::string Records(const SettingFile& file) {
    std::string text;
    for (const SettingRecord& record : file.records) {
        text += (text.empty() ? "S" : " S") + std::to_string(record.number) + "=" +
                std::to_string(record.high) +
                (record.twoPart ? "." + std::to_string(record.low) : "");
    }
    return text;
}

std::string Errors(const SettingFile& file) {
    std::string text;
    for (const auto& [line, error] : file.errors) {
        text += std::to_string(line) + ": " + error + "\n";
    }
    return text;
}

TEST(SettingFile, TakesWellFormedFilesAndEveryFileTheWindowSaves) {
    // clang-format off
    std::vector<std::pair<std::string, std::string>> cases = {  // the file, its records
        {"S111=5\nS120=10.20\n", "S111=5 S120=10.20"},           // LF line ends, no ">"
        {"S111=5\r\nS100=0", "S111=5 S100=0"},                    // no line end at the end
        {"\r\n  \t\r\nS111=255\n\n>", "S111=255"},                 // blank lines
        {"S121=0.255\nS122=1.0\nS123=2.3\nS130=255.255\n", "S121=0.255 S122=1.0 S123=2.3 S130=255.255"},
    };
    // clang-format on
    for (int series = 0; series < kProductSeriesCount; ++series) {
        for (uint8_t idLength : {0, 1}) {
            ParameterSet set = StartingParameters(static_cast<ProductSeries>(series));
            set.idLength = idLength;
            set.s121Low = 77;
            char text[CONFIG_TEXT_SIZE];
            const std::string saved(text, FormatConfigText(set, text, sizeof text));
            std::string records = std::regex_replace(saved, std::regex("\r\n"), " ");
            cases.emplace_back(saved, records.substr(0, records.size() - 2));  // less " >"
        }
    }
    for (const auto& [text, expected] : cases) {
        const SettingFile file = ParseSettingFile(text);
        EXPECT_EQ(Errors(file), "") << text;
        EXPECT_EQ(Records(file), expected);
    }
}

// Files with a wrong line give its number and the words that say how to mend it; a file
// that is no setting file at all gives line 0. End to end, zelkctl shows them as file:line.
TEST(SettingFile, RefusesEachWrongLineAndEachFileThatIsNotOne) {
    struct Row {
        const char* name;
        std::string text;
        int line;                        // of the first error
        std::vector<std::string> words;  // each in the first error
    };
    // clang-format off
    const Row rows[] = {
        {"spaces around =", "S100=50\nS111 = 5\n", 2, {"\"S111 = 5\"", "no spaces", "write \"S111=5\""}},
        {"a tab before the value", "S111=\t5", 1, {"tabs"}},
        {"trailing characters", "S111=5x\n", 1, {"\"x\"", "after the value"}},
        {"hexadecimal", "S111=0x10", 1, {"decimal"}},
        {"a leading zero", "S100=50\r\nS111=05\r\n", 2, {"leading zeros", "write 5, not 05"}},
        {"a sign", "S111=-1", 1, {"no sign"}},
        {"over 255", "S111=256", 1, {"256 is more than 255"}},
        {"no value", "S111=\n", 1, {"missing"}},
        {"a register not of the set", "S106=1", 1, {"S106", "S100 to S105, S110 to S113 and S120 to S130"}},
        {"a small s", "s111=5", 1, {"capital S"}},
        {"two digits", "S11=5", 1, {"three digits"}},
        {"no =", "S111:5", 1, {"\"=\""}},
        {"a low part on a one-part register", "S111=5.1", 1, {"S111 has one part"}},
        {"the network ID without its low part", "S120=10", 1, {"S120", "two parts", "high.low"}},
        {"a low part over 255", "S121=10.256", 1, {"256 is more than 255"}},
        {"not a record", "S111=5\nhello\n", 2, {"\"hello\"", "not a record"}},
        {"a lone CR between records", "S111=5\rS100=50\n", 1, {"carriage return"}},
        {"a CR at the end of the file", "S111=5\r", 1, {"carriage return"}},
        {"a record after \">\"", "S111=5\r\n>\r\nS100=50\r\n", 3, {"after the \">\" on line 2"}},
        {"text after \">\"", "S111=5\r\n> ok", 2, {"closing \">\""}},
        {"a register given twice", "S111=5\nS100=1\nS111=6\n", 3, {"S111", "lines 1 and 3"}},
        {"IDs in both forms", "S121=1.2\nS111=5\nS122=3\nS130=4.5\n", 3,
         {"S121 (line 1), S130 (line 4)", "one number: S122 (line 3)"}},
        {"an empty file", "", 0, {"empty"}},
        {"blank lines and \">\" only", "\r\n  \r\n>", 0, {"no record"}},
        {"a zero byte", std::string("S111=5\nS100=5\0\n", 15), 0, {"zero byte at line 2 (byte 14 "}},
        {"a control character", "S111=5\n\x1b[0m", 0, {"0x1B at line 2"}},
        {"a byte above 126", "S111=\xc3\xa9", 0, {"0xC3 at line 1 (byte 6 "}},
        {"a byte order mark", "\xEF\xBB\xBFS111=5", 0, {"byte order mark"}},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const SettingFile file = ParseSettingFile(row.text);
        ASSERT_FALSE(file.errors.empty());
        EXPECT_EQ(file.errors.front().first, row.line) << Errors(file);
        for (const std::string& word : row.words) {
            EXPECT_PRED_FORMAT2(testing::IsSubstring, word, file.errors.front().second);
        }
    }
}

// One run shows every wrong line, also a register given twice whose first line is wrong
// too; a flood of errors ends with how many more there were.
TEST(SettingFile, ListsEveryErrorUpToItsLimit) {
    const SettingFile three = ParseSettingFile("S111 =5\nS100=50\nS112=x\n\nS111=7\n");
    EXPECT_EQ(Errors(three).substr(0, 3), "1: ");
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "\n3: ", Errors(three));
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "\n5: S111 is given twice", Errors(three));
    EXPECT_EQ(three.errors.size(), 3u) << Errors(three);

    std::string flood;
    for (int i = 0; i < 30; ++i) {
        flood += "hello " + std::to_string(i) + "\n";
    }
    const SettingFile file = ParseSettingFile(flood);
    ASSERT_EQ(file.errors.size(), kSettingFileErrorLimit + 1);
    EXPECT_EQ(file.errors[kSettingFileErrorLimit - 1].first, 20);
    EXPECT_EQ(file.errors.back(), std::make_pair(0, std::string("and 10 more errors")));
}

TEST(IdCounter, HandsOutEachIdOnceAndTakesBackWhatNoModuleGot) {
    enum Step { Take, GiveBack, Peek };
    struct Row {
        const char* name;
        const char* before;  // the file; nullptr: none
        Step step;
        DeviceId given;               // what GiveBack gives
        std::string expected;         // the ID taken or peeked, or words of the error
        const char* after = nullptr;  // the file afterwards; nullptr: as before
        bool throughLink = false;
        bool shutFolder = false;  // one that takes no new file, for this user
    };
    const DeviceId none{};
    // clang-format off
    const Row rows[] = {
        {"a new counter", "1\n", Take, none, "1", "2\n"},
        {"written by a Windows editor", "5\r\n", Take, none, "5", "6\n"},
        {"comments kept, the low part carries", "# line 3\n\n10.255\n", Take, none, "10.255", "# line 3\n\n11.0\n"},
        {"through a symbolic link", "7\n", Take, none, "7", "8\n", true},
        // Never written in place, where a crash halfway could hand out IDs twice.
        {"in a folder that takes no new file", "7\n", Take, none, "cannot write the new counter beside it: Permission denied", nullptr, false, true},
        {"given back first, oldest first", "9\n4\n# failed\n2\n", Take, none, "4", "9\n# failed\n2\n"},
        {"the last one-byte ID", "255\n", Take, none, "255", "256\n"},
        {"the last two-byte ID", "255.255\n", Take, none, "255.255", "256.0\n"},
        {"none left", "256\n", Take, none, "every ID, 0 to 255, has been handed out"},
        {"none left but one given back", "256\n7\n", Take, none, "7", "256\n"},
        {"peeking changes nothing", "9\n4\n", Peek, none, "4", nullptr},
        {"give back", "9\n4\n", GiveBack, {6, false, 0}, "", "9\n4\n6\n"},
        {"give back when none is left", "256.0\n", GiveBack, {255, true, 255}, "", "256.0\n255.255\n"},
        {"give back one not handed out", "9\n", GiveBack, {9, false, 0}, "9 has not been handed out yet"},
        {"give back twice", "9\n4\n", GiveBack, {4, false, 0}, "4 is given back already, on line 2"},
        {"give back in the other form", "9\n", GiveBack, {1, true, 2}, "the file holds one-byte IDs"},
        {"a missing file", nullptr, Take, none, "no such file; create the counter with the first ID to hand out, such as \"echo 1 >"},
        {"an empty file", "", Take, none, "holds no ID: create"},
        {"a word", "nine\n", Take, none, "line 1: \"nine\" is not an ID"},
        {"over 255", "300\n", Take, none, "line 1: \"300\" is not an ID"},
        {"both forms", "9\n1.2\n", Take, none, "line 2: 1.2 is not in the form of the next ID 9"},
        {"given back, never handed out", "9\n12\n", Take, none, "line 2: 12 has not been handed out yet"},
        {"given back twice", "9\n3\n3\n", Take, none, "line 3: 3 is given back already, on line 2"},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QTemporaryDir folder;
        const std::string file = folder.filePath("ids.txt").toStdString();
#ifdef _WIN32
        // A symbolic link needs a privilege there, and permissions are no POSIX modes.
        if (row.throughLink || row.shutFolder) {
            continue;
        }
#endif
        if (row.before != nullptr) {
            Write(folder, "ids.txt", row.before);
            fs::permissions(file, fs::perms(0606));
        }
        const std::string path = row.throughLink ? file + ".link" : file;
        if (row.throughLink) {
            std::filesystem::create_symlink(file, path);
        }
#ifndef _WIN32
        // Root may write any folder: nobody may not.
        fs::permissions(folder.path().toStdString(), fs::perms(row.shutFolder ? 0555 : 0755));
        const bool asNobody =
            row.shutFolder && geteuid() == 0 && setegid(65534) == 0 && seteuid(65534) == 0;
#endif
        DeviceId id{};
        std::string error;
        const bool done = row.step == Take       ? TakeId(path, &id, &error)
                          : row.step == GiveBack ? GiveBackId(path, row.given, &error)
                                                 : PeekId(path, &id, &error);
#ifndef _WIN32
        ASSERT_TRUE(!asNobody || (seteuid(0) == 0 && setegid(0) == 0));
        fs::permissions(folder.path().toStdString(), fs::perms(0755));
#endif
        const bool failure = row.expected.find(' ') != std::string::npos;
        EXPECT_EQ(done, !failure) << error;
        if (failure) {
            EXPECT_EQ(error.find(path), 0u) << error;
            EXPECT_PRED_FORMAT2(testing::IsSubstring, row.expected, error);
        } else if (row.step != GiveBack) {
            EXPECT_EQ(IdText(id), row.expected);
        }
        if (row.before != nullptr) {
            EXPECT_EQ(ReadFile(file), row.after != nullptr ? row.after : row.before);
#ifndef _WIN32
            EXPECT_EQ(fs::status(file).permissions(), fs::perms(0606));
#endif
        }
        EXPECT_EQ(std::filesystem::is_symlink(path), row.throughLink);
        // No temporary file left beside it; on Windows the lock's own file stays.
#ifdef _WIN32
        const bool lockFile = row.before != nullptr;
        EXPECT_EQ(QFile::exists(folder.filePath("ids.txt.lock")), lockFile);
#else
        const bool lockFile = false;
#endif
        EXPECT_EQ(std::distance(fs::directory_iterator(folder.path().toStdString()), {}),
                  (row.before != nullptr) + row.throughLink + lockFile);
    }
}

// Eight processes take IDs from one file at once as the ports of a production line do, each
// giving back every fourth as a failed write would.
constexpr int kTakers = 8;
constexpr int kTakes = 25;

void TakeIds(int child, const std::string& folder) {
    std::ofstream out(folder + "/" + std::to_string(child));
    const std::string path = folder + "/ids.txt";
    for (int take = 0; take < kTakes; ++take) {
        DeviceId id{};
        std::string error;
        if (!TakeId(path, &id, &error) || (take % 4 == 3 && !GiveBackId(path, id, &error))) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::exit(1);
        }
        if (take % 4 != 3) {
            out << IdText(id) << "\n";
        }
    }
}
const ChildBodyRegistration takeIds("take IDs", TakeIds);

TEST(IdCounter, ManyProcessesAtOnceNeverShareAnId) {
    const QTemporaryDir folder;
    const std::string path = Write(folder, "ids.txt", "1\n");
    RunTogether("take IDs", kTakers, folder.path().toStdString());
    // The file's next ID, then what it lists as given back and what the modules got: each
    // ID from the first to the one before the next, once: none twice, none lost.
    std::string text = ReadFile(path);
    for (int child = 0; child < kTakers; ++child) {
        text += ReadFile(folder.filePath(QString::number(child)).toStdString());
    }
    std::istringstream lines(text);
    int next = 0;
    ASSERT_TRUE(lines >> next);
    std::vector<int> passed;
    for (int id = 0; lines >> id;) {
        passed.push_back(id);
    }
    std::sort(passed.begin(), passed.end());
    std::vector<int> expected(static_cast<std::size_t>(next - 1));
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(passed, expected);
}

TEST(LogFile, AppendsWholeLinesOrNothing) {
    struct Row {
        const char* name;
        const char* before;  // the log; nullptr: none
        std::string line;
        std::string expected;  // the log afterwards, or words of the error
        bool good;
        std::string folder = "";  // of the log, in the test's own
        bool fullDisk = false;    // POSIX systems only: a file size limit stands in for it
    };
    // clang-format off
    const Row rows[] = {
        {"a new log", nullptr, "{\"exit\":0}", "{\"exit\":0}\n", true},
        {"after the lines there", "{\"exit\":0}\n", "{\"exit\":5}", "{\"exit\":0}\n{\"exit\":5}\n", true},
        {"a line end inside the line", "{}\n", "{\"error\":\"a\nb\"}", "line end", false},
        {"a folder that is not there", nullptr, "{}", "No such file", false, "none/"},
        // The disk fills halfway through the line: what was written of it is taken back.
        {"a full disk", "{}\n", std::string(200, 'x'), "File too large", false, "", true},
    };
    // clang-format on
#ifndef _WIN32
    const OnExit restoreMask{[mask = umask(027)] { umask(mask); }};
#endif
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
#ifdef _WIN32
        if (row.fullDisk) {
            continue;
        }
#endif
        const QTemporaryDir folder;
        const std::string path =
            folder.filePath(QString::fromStdString(row.folder + "log.jsonl")).toStdString();
        if (row.before != nullptr) {
            Write(folder, "log.jsonl", row.before);
        }
        std::string error;
#ifndef _WIN32
        const auto fullDisk = LimitFileSize(row.fullDisk ? 100 : RLIM_INFINITY);
#endif
        EXPECT_EQ(AppendLogLine(path, row.line, &error), row.good) << error;
        const std::string log = ReadFile(path);
        EXPECT_EQ(log, row.good ? row.expected : row.before != nullptr ? row.before : "");
        EXPECT_PRED_FORMAT2(testing::IsSubstring, row.expected, row.good ? log : error);
#ifndef _WIN32
        if (row.before == nullptr && row.good) {
            EXPECT_EQ(fs::status(path).permissions(), fs::perms(0640));
        }
#endif
    }
}

// Eight processes append at once, lines longer than a pipe's atomic write and of every
// length; each line comes out whole, once, and each writer's in its order.
constexpr int kWriters = 8;
constexpr int kLines = 100;

std::string LineOf(int writer, int number) {
    const std::size_t length = 1 + static_cast<std::size_t>(writer * 997 + number * 61) % 9000;
    return "{\"port\":\"COM" + std::to_string(writer) + "\",\"n\":" + std::to_string(number) +
           ",\"pad\":\"" + std::string(length, static_cast<char>('a' + writer)) + "\"}";
}

void AppendLines(int writer, const std::string& path) {
    for (int number = 0; number < kLines; ++number) {
        std::string error;
        if (!AppendLogLine(path, LineOf(writer, number), &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::exit(1);
        }
    }
}
const ChildBodyRegistration appendLines("append lines", AppendLines);

TEST(LogFile, ParallelWritersNeverMixTheirLines) {
    const QTemporaryDir folder;
    const std::string path = folder.filePath("line-3.jsonl").toStdString();
    RunTogether("append lines", kWriters, path);
    std::istringstream log(ReadFile(path));
    std::vector<int> next(kWriters, 0);
    int count = 0;
    for (std::string line; std::getline(log, line); ++count) {
        const std::size_t port = line.find("COM");
        const int writer = port == std::string::npos ? -1 : line[port + 3] - '0';
        ASSERT_TRUE(writer >= 0 && writer < kWriters && line == LineOf(writer, next[writer]++))
            << "line " << count + 1 << " is not whole: " << line.substr(0, 80);
    }
    EXPECT_EQ(count, kWriters * kLines);
}

struct Result {
    int status;
    std::string out;
    std::string err;
};

// zelkctl in this process, on the simulated module of the test, with this on stdin from a
// pipe, and stdout and stderr caught: what a shell would see, on the virtual clock.
Result InProcess(std::vector<std::string> arguments, const std::string& input = "") {
    arguments.insert(arguments.begin(), "zelkctl");
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    const int saved = dup(0);
    int in[2];
#ifdef _WIN32
    EXPECT_EQ(_pipe(in, 1 << 16, _O_BINARY), 0);
#else
    EXPECT_EQ(pipe(in), 0);
#endif
    EXPECT_EQ(write(in[1], input.data(), static_cast<unsigned>(input.size())),
              static_cast<int>(input.size()));
    close(in[1]);
    dup2(in[0], 0);
    close(in[0]);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = RunZelkctl(static_cast<int>(argv.size()), argv.data());
    const std::string out = testing::internal::GetCapturedStdout();
    dup2(saved, 0);
    close(saved);
    return {status, out, testing::internal::GetCapturedStderr()};
}

// Each exchange starts by discarding what waits to go out, so the leave command that ended
// the one before is given four character times and 50 ms to leave, then the guard time.
TEST(ZelkctlWire, LetsTheLastLeaveCommandOutBeforeTheNextEscape) {
    sim::SimulatedModule module;
    EXPECT_EQ(InProcess({"read", "--with-version", "-p", "1", "-s", "T1b"}).status, 0);
    ASSERT_EQ(module.sentByHost(), "+++AT/L\nATX\n+++AT/V\nATX\n");
    EXPECT_NEAR(module.hostByteTimes('+')[3] - module.hostByteTimes('\n')[1],
                40.0 / 9600 + 0.05 + 0.1, 1e-6);
}

// A module that acknowledges every value and keeps its own: the check after the write
// names each register it sent, so that one the comparison skips shows.
TEST(ZelkctlWire, VerifyNamesEveryRegisterTheModuleHoldsOtherwise) {
    const ModuleOptions written = {.series = 1};
    const std::string file = ModuleModel(written).registerList();
    const QTemporaryDir directory;
    const std::string path = Write(directory, "written.txt", file);
    // "S100=50" reads back as 150, "S120=192.168" as 119: no value as it was written.
    ModuleOptions holding = written;
    holding.registerListOverride = std::regex_replace(file, std::regex("="), "=1");
    sim::SimulatedModule module(holding);
    const Result result = InProcess({"write", path, "--verify", "-p", "1", "-s", "T1b"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'),
              std::count(file.begin(), file.end(), '\n'));
    for (std::size_t at = file.find('S'); at != std::string::npos; at = file.find('S', at + 1)) {
        EXPECT_PRED_FORMAT2(testing::IsSubstring, file.substr(at, 4) + ": wrote ", result.out);
    }
}

#ifndef _WIN32
// zelkctl is built beside zelksim.
std::string ZelkctlPath() {
    const std::string zelksim = ZelksimPath();
    return zelksim.substr(0, zelksim.rfind('/') + 1) + "zelkctl";
}

// Runs the zelkctl program beside the simulator, as a shell would, input on its stdin.
Result Zelkctl(const std::vector<std::string>& arguments, const std::string& input = "") {
    QStringList list;
    for (const std::string& argument : arguments) {
        list << QString::fromStdString(argument);
    }
    QProcess process;
    process.start(QString::fromStdString(ZelkctlPath()), list);
    process.write(input.data(), static_cast<qint64>(input.size()));
    process.closeWriteChannel();
    process.waitForFinished(120000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

// The programs as a shell runs them; the JSON object, the saved file and the version as
// printed are seen in process below.
TEST(ZelkctlOnAPty, ListsReadsWritesVerifiesAndDiffs) {
    ZelksimProcess module({"--series", "R3", "--version-text", "E2E V1"});
    ScopedEnvironment environment;
    environment.Set("ZELK_COM1", module.link().c_str());
    const std::string ports = Zelkctl({"ports", "--probe"}).out;
    EXPECT_PRED_FORMAT2(testing::IsSubstring,
                        "COM1  " + module.link() + " (ZELK_COM1)\n      ready\n", ports);

    const QTemporaryDir files;
    const std::string saved = files.filePath("saved.txt").toStdString();
    const std::string trace = files.filePath("trace.txt").toStdString();
    const Result read = Zelkctl({"read", "-p", "COM1", "-s", "R3", "-o", saved, "--trace", trace});
    EXPECT_EQ(read.status, 0) << read.err;
    for (const char* line : {"sent       2b  +     escape", "sent       0a  \\n    AT/L",
                             "read       3e  >     AT/L", "sent       58  X     ATX"}) {
        EXPECT_PRED_FORMAT2(testing::IsSubstring, line, ReadFile(trace));
    }

    const std::string& link = module.link();
    EXPECT_EQ(Zelkctl({"diff", saved, "-p", link, "-s", "R3"}).status, 0);
    const Result write =
        Zelkctl({"write", saved, "--set", "S111=9", "--verify", "-p", link, "-s", "R3"});
    EXPECT_EQ(write.status, 0) << write.err;
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "verified: the module holds all 20 registers checked",
                        write.err);
    const Result diff = Zelkctl({"diff", saved, "-p", link, "-s", "R3"});
    EXPECT_EQ(diff.status, 1);
    EXPECT_EQ(diff.out, "S111: module 9, file 0\n");
    const Result json = Zelkctl({"read", "--json", "--with-version", "-p", link, "-s", "R3"});
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "\"S111\":9,", json.out);
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "\"version\":\"E2E V1\"", json.out);
}

// The module's end of a real pty goes in the middle of a slow register list.
TEST(ZelkctlOnAPty, ADeviceGoneMidwaySaysSoInItsExitCode) {
    ZelksimProcess slow({"--byte-interval", "0.05"});
    QProcess process;
    process.start(QString::fromStdString(ZelkctlPath()),
                  {"read", "-v", "-p", QString::fromStdString(slow.link()), "-s", "T1b"});
    process.setReadChannel(QProcess::StandardError);
    QByteArray said;
    while (!said.contains("step: AT/L") && process.waitForReadyRead(30000)) {
        said += process.readAllStandardError();
    }
    ASSERT_TRUE(said.contains("step: AT/L")) << said.toStdString();
    slow.Kill();
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 7);
    EXPECT_TRUE((said + process.readAllStandardError()).contains("the device is gone"));
}

TEST(ZelkctlOnAPty, RunsOnSeveralPortsAtOnce) {
    ZelksimProcess first({"--version-text", "ONE"});
    ZelksimProcess second({"--version-text", "TWO"});
    const Result both = Zelkctl(
        {"version", "-p", first.link(), "-p", second.link(), "-p", "/dev/zelk-none", "-s", "T1b"});
    EXPECT_EQ(both.status, 3);
    EXPECT_PRED_FORMAT2(testing::IsSubstring, first.link() + ": ONE\n", both.out);
    EXPECT_PRED_FORMAT2(testing::IsSubstring, second.link() + ": TWO\n", both.out);
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "3 ports: 2 done, failed: /dev/zelk-none (exit 3)",
                        both.err);
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "cannot open the port: /dev/zelk-none", both.err);
}

#endif

// -p takes the window's twelve COM numbers everywhere; on Windows any COM port the system
// may have, since USB adapters often get numbers above twelve; and a device by its path.
TEST(ZelkctlPorts, TakesTheComNumbersOfThePlatformAndDevicePaths) {
#ifdef _WIN32
    const bool windows = true;
#else
    const bool windows = false;
#endif
    struct Row {
        const char* given;
        bool taken;
        int comPort = 0;
        const char* device = "";
        const char* label = "";
    };
    // clang-format off
    const Row rows[] = {
        {"COM3", true, 3, "", "COM3"},
        {"com12", true, 12, "", "COM12"},
        {"7", true, 7, "", "COM7"},
        {"COM13", windows, 1, "COM13", "COM13"},
        {"COM256", windows, 1, "COM256", "COM256"},
        {"COM257", false},
        {"COM0", false},
        {"COM", false},
        {"/dev/ttyUSB0", true, 1, "/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"\\\\.\\COM17", true, 1, "\\\\.\\COM17", "\\\\.\\COM17"},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.given);
        const CommandLine line =
            ParseCommandLine({"zelkctl", "version", "-p", row.given, "-s", "T1b"});
        ASSERT_EQ(line.kind, row.taken ? CommandLine::Kind::Run : CommandLine::Kind::Usage)
            << line.text;
        if (!row.taken) {
            const std::string last = windows ? "COM256" : "COM12";
            EXPECT_PRED_FORMAT2(testing::IsSubstring, "give COM1 to " + last + ", a device path",
                                line.text);
            continue;
        }
        const PortChoice& port = line.request.ports.at(0);
        EXPECT_EQ(std::tuple(port.comPort, port.device, port.label),
                  std::tuple(row.comPort, std::string(row.device), std::string(row.label)));
    }
#ifdef _WIN32
    // One port however it is written, refused before it opens.
    sim::SimulatedModule module;
    const Result twice = InProcess({"version", "-p", "COM17", "-p", "\\\\.\\com17", "-s", "T1b"});
    EXPECT_EQ(twice.status, 2);
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "are the same device (COM17)", twice.err);
#endif
}

// What zelkctl cannot be sure of it refuses before a port opens, before it writes, or
// once the module has said something it cannot take; each with its exit status.
TEST(ZelkctlChecks, TakesOnlyWhatItCanBeSureOf) {
    struct Row {
        const char* name;
        std::string file;                    // the setting file's text, written to f.txt
        std::vector<std::string> arguments;  // -s T1b unless they name a series
        int status;
        const char* says;
        ModuleOptions module = {};
        int reached = 0;  // 0: the port never opened; 1: opened, nothing written; 2: written
    };
    // clang-format off
    const Row rows[] = {
        {"spaces in a record", "S111 = 5\n>", {"write", "f.txt"}, 6, "f.txt:1: \"S111 = 5\": no spaces"},
        {"a register of no series", "", {"write", "--set", "S999=1"}, 2, "S999 is not a register"},
        {"a register the series lacks", "", {"write", "--set", "S113=4"}, 2, "a Zelk-T1b has no S113"},
        {"the same in a file", "S113=1\n", {"write", "f.txt"}, 2, "f.txt:1: a Zelk-T1b has no S113"},
        {"a value the series does not offer", "", {"write", "--set", "S110=14"}, 2, "S110=14 is not offered"},
        {"IDs of two lengths", "", {"write", "--set", "S121=10.20", "--set", "S122=11"}, 2, "share one length"},
        {"--set on a read", "", {"read", "--set", "S111=1"}, 2, "--set is not an option of read"},
        {"-o on version", "", {"version", "-o", "v.txt"}, 2, "--output is not an option of version"},
        {"no such file", "", {"write", "none.txt"}, 6, "cannot read none.txt"},
        {"a folder", "", {"write", "."}, 6, "cannot read .: it is a folder"},
        {"too large", std::string(5000, 'S'), {"write", "f.txt"}, 6, "the file is 5000 bytes, more than the 1027"},
        {"a pipe too large", std::string(2000, 'S'), {"write", "-"}, 6, "longer than the 1027 bytes"},
        {"the largest file", "S111=5\r\n" + std::string(1019, '\n'), {"write", "f.txt"}, 0, "", {}, 2},
        {"standard input", "S111=5\r\n>", {"write", "-"}, 0, "", {}, 2},
        {"an output in no folder", "", {"read", "-o", "/nonexistent/r.txt"}, 6, "cannot write /nonexistent/r.txt"},
        {"a missing counter file", "", {"write", "--set", "S121=next:none.txt"}, 6, "none.txt"},
        {"one device twice", "", {"read", "-p", "COM1"}, 2, "are the same device"},
        {"an M5 read as a T1b", "", {"read"}, 9,
         "does not fit a Zelk-T1b: it lacks S105, S129, S130 and it lists S113; its list is that of -s M5", {.series = 4}, 1},
        {"a list that is an error", "S112=6\n", {"diff", "f.txt"}, 9, "holds no register: it answered \"ERROR\\r\\n>\"",
         {.registerListOverride = "ERROR\r\n>"}, 1},
        {"a version that is an echo", "", {"version"}, 8, "which is no firmware version", {.echo = true}, 1},
        {"a version that is an error", "", {"version"}, 8, "no firmware version", {.versionText = "ERROR\r\n"}, 1},
        {"a new value the series does not offer", "S112=6\n", {"write", "f.txt", "-s", "M5"}, 2,
         "f.txt:1: S112=6 is not offered for a Zelk-M5", {.series = 4}, 1},
        {"a cut reply", "", {"read"}, 8, "did not come whole: 40 characters", {.cutReplyAfter = 40}, 1},
        {"a register refused", "", {"write", "--set", "S105=1"}, 5,
         "refused ATS105=1 (register S105): it answered something other than \">\".\nAlready written: S100, "
         "S101, S102, S103, S104. The module now holds", {.refuseRegister = 105}, 2},
    };
    // clang-format on
    const QTemporaryDir folder;
    ASSERT_TRUE(QDir::setCurrent(folder.path()));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::SimulatedModule module(row.module);
        Write(folder, "f.txt", row.file);
        std::vector<std::string> arguments = row.arguments;
        arguments.insert(arguments.end(), {"-p", "1"});
        if (std::find(arguments.begin(), arguments.end(), "-s") == arguments.end()) {
            arguments.insert(arguments.end(), {"-s", "T1b"});
        }
        const Result result = InProcess(arguments, row.file);
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(result.out, "");
        EXPECT_PRED_FORMAT2(testing::IsSubstring, row.says, result.err);
        const bool written = module.sentByHost().find("ATS") != std::string::npos;
        EXPECT_EQ(std::min(module.openCount(), 1) + written, row.reached);
    }
}

TEST(ZelkctlModule, ReadSavesWhatWriteTakesBackAndPrintsOnlyWhatTheModuleListed) {
    const QTemporaryDir folder;
    ASSERT_TRUE(QDir::setCurrent(folder.path()));
    // Values the series would not offer included; LF line ends on stdout, CRLF in the file.
    sim::SimulatedModule m5({.series = 4});
    const Result read = InProcess({"read", "-p", "1", "-s", "M5", "-o", "m5.txt"});
    EXPECT_EQ(read.status, 0);
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "warning: S112=7 is not offered", read.err);
    EXPECT_EQ(ReadFile("m5.txt"),
              "S100=50\r\nS101=0\r\nS102=5\r\nS103=0\r\nS104=3\r\nS110=3\r\nS111=0\r\nS112=7\r\n"
              "S113=0\r\nS120=192.168\r\nS121=10\r\nS122=11\r\nS123=127\r\nS124=0\r\nS125=2\r\n"
              "S126=0\r\nS127=0\r\nS128=0\r\n>");
    EXPECT_EQ(InProcess({"write", "m5.txt", "-p", "1", "-s", "M5", "--verify"}).status, 0);
    const std::string saved = std::regex_replace(ReadFile("m5.txt"), std::regex("\r"), "");
    EXPECT_EQ(InProcess({"read", "-p", "1", "-s", "M5"}).out, saved.substr(0, saved.size() - 1));
}

// A register the series does not use is left out of everything, and said once per port.
TEST(ZelkctlModule, LeavesOutRegistersTheSeriesDoesNotUse) {
    sim::SimulatedModule r3({.series = 6});
    r3.module().setRegister(113, "9");
    const Result read = InProcess({"read", "-p", "1", "-s", "T1b", "--json"});
    EXPECT_EQ(read.status, 0) << read.err;
    const QJsonObject object =
        QJsonDocument::fromJson(QByteArray::fromStdString(read.out)).object();
    EXPECT_FALSE(object["registers"].toObject().contains("S113"));
    EXPECT_EQ(object["registers"].toObject().size(), 20);
    EXPECT_EQ(QJsonDocument(object["extra"].toObject()).toJson(QJsonDocument::Compact),
              R"({"listOf":["R3"],"registers":["S113"]})");
    // The write reads the list twice, once more to verify.
    const Result write =
        InProcess({"write", "-p", "1", "-s", "T1b", "--set", "S111=3", "--verify"});
    EXPECT_EQ(write.status, 0) << write.err;
    const std::string warning =
        "warning: the module's register list also holds S113, which a "
        "Zelk-T1b does not use: left out; its list is that of -s R3";
    EXPECT_PRED_FORMAT2(testing::IsSubstring, warning, write.err);
    EXPECT_EQ(write.err.find(warning), write.err.rfind(warning)) << write.err;
    EXPECT_EQ(r3.sentByHost().find("ATS113"), std::string::npos);
}

// What the write sends besides the values given: IDs of the length --ids gives, whatever
// form the module held, and the port's own format where the module does not list it.
TEST(ZelkctlModule, WritesTheIdLengthAndFormatOfTheRun) {
    struct Row {
        const char* name;
        ModuleOptions module;
        std::vector<std::string> arguments;
        int number;         // a register,
        const char* holds;  // and its value afterwards
    };
    // clang-format off
    const Row rows[] = {
        {"--ids over the module's form", {.twoByteIds = true}, {"--ids", "1", "-s", "T1b"}, 130, "100"},
        {"an unlisted serial format", {.series = 4}, {"-f", "8N2", "-s", "M5"}, 105, "3"},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::SimulatedModule module(row.module);
        std::vector<std::string> arguments = {"write", "--set", "S111=3", "-p", "1"};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        const Result write = InProcess(arguments);
        EXPECT_EQ(write.status, 0) << write.err;
        EXPECT_EQ(module.module().registerText(row.number), row.holds);
    }
}

TEST(ZelkctlModule, BringsBackAModuleLeftInCommandMode) {
    sim::SimulatedModule module;
    // An earlier run stopped in the middle: the module took an escape, answered it, and
    // holds the start of a line.
    for (const double at : {1000.1, 1000.2, 1000.3}) {
        module.module().receive('+', at);
    }
    while (module.module().due(1000.4) > 0) {
        module.module().take(1000.4);
    }
    module.module().receive('A', 1000.5);
    module.clock().waitUntil(1001.0);
    ASSERT_TRUE(module.module().inCommandMode());
    const Result result = InProcess({"version", "-p", "1", "-s", "T1b"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "Zelk RF module firmware V3.36\n");
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "in command mode still", result.err);
    EXPECT_FALSE(module.module().inCommandMode());
}

// The module's clock, which stops zelkctl the first time it waits with the second set
// command on the wire, as a user's key or a signal would.
class StopOnTheWire : public timing::Clock {
  public:
    StopOnTheWire(sim::SimulatedModule& module, std::function<void()> stop)
        : module_(module), stop_(std::move(stop)) {
        timing::SetClock(this);
    }
    ~StopOnTheWire() override { timing::SetClock(&module_.clock()); }
    double now() override { return module_.clock().now(); }
    void waitUntil(double when) override {
        if (stop_ && module_.sentByHost().find("ATS101=") != std::string::npos) {
            std::exchange(stop_, nullptr)();
        }
        module_.clock().waitUntil(when);
    }

  private:
    sim::SimulatedModule& module_;
    std::function<void()> stop_;
};

// Ctrl+C and Ctrl+Break on Windows, SIGINT and SIGTERM elsewhere, while the second set
// command is on the wire: it is answered, the rest are not sent, command mode is left, and
// what was written is said, with the exit status of the signal.
TEST(ZelkctlStop, FinishesTheCommandOnTheWireAndLeavesCommandMode) {
    struct Row {
        int signal;
        const char* said;
        unsigned long consoleEvent;  // Windows' own
    };
#ifdef _WIN32
    const Row rows[] = {{SIGINT, "stopped by Ctrl+C", CTRL_C_EVENT},
                        {SIGTERM, "stopped by Ctrl+Break", CTRL_BREAK_EVENT}};
#else
    const Row rows[] = {{SIGINT, "stopped by SIGINT", 0}, {SIGTERM, "stopped by SIGTERM", 0}};
#endif
    for (const Row& row : rows) {
        SCOPED_TRACE(row.said);
        sim::SimulatedModule module;
        const StopOnTheWire stop(module, [&row] {
#ifdef _WIN32
            EXPECT_NE(OnConsoleEvent(row.consoleEvent), 0);
#else
            std::raise(row.signal);
#endif
        });
        const Result result = InProcess({"write", "--set", "S111=7", "-p", "1", "-s", "T1b"});
        EXPECT_EQ(result.status, 128 + row.signal);
        EXPECT_PRED_FORMAT2(testing::IsSubstring, row.said, result.err);
        EXPECT_PRED_FORMAT2(testing::IsSubstring, "written: S100, S101; not written: S102",
                            result.err);
        const std::string sent = module.sentByHost();
        EXPECT_TRUE(sent.ends_with("ATS101=0\nATX\n")) << sent;
        EXPECT_FALSE(module.module().inCommandMode());
    }
    // The next run in this process starts with no stop pending.
    sim::SimulatedModule module;
    EXPECT_EQ(InProcess({"version", "-p", "1", "-s", "T1b"}).status, 0);
}

TEST(ZelkctlOutput, HasUnixMannersAndADocumentedJsonObject) {
    const QTemporaryDir folder;
    ASSERT_TRUE(QDir::setCurrent(folder.path()));
    sim::SimulatedModule module({.series = 6});
    // Listing the ports opens none of them: an open resets some boards.
    EXPECT_EQ(InProcess({"ports"}).status, 0);
    EXPECT_EQ(module.openCount(), 0);

#ifndef _WIN32
    // A FIFO is written in place, not replaced by a file.
    ASSERT_EQ(mkfifo("fifo", 0600), 0);
    const int reader = open("fifo", O_RDONLY | O_NONBLOCK);
    EXPECT_EQ(InProcess({"read", "-p", "1", "-s", "R3", "-o", "fifo"}).status, 0);
    char head[9] = "";
    EXPECT_EQ(::read(reader, head, 8), 8);
    EXPECT_STREQ(head, "S100=50\r");
    close(reader);
    EXPECT_TRUE(fs::is_fifo("fifo"));
#endif

    // One object per port and command, failures too: the fields the manual page names.
    const auto keys = [](const std::string& line) {
        const QJsonObject object =
            QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        EXPECT_EQ(object.value("schema").toInt(), 1);
        return object.keys().join(',').toStdString();
    };
    const Result json = InProcess({"read", "--json", "-p", "1", "-s", "R3"});
    EXPECT_EQ(keys(json.out), "command,device,exit,idBytes,port,registers,schema,series");
    EXPECT_TRUE(json.out.ends_with("}\n"));
    module.module().options().silent = true;
    const Result failed = InProcess({"version", "--json", "-p", "1", "-s", "R3"});
    EXPECT_EQ(failed.status, 4);
    EXPECT_EQ(keys(failed.out), "command,device,error,exit,port,schema,series");
}

#ifndef _WIN32
// A production line: every module its own ID from one counter and the settings that came
// on standard input, one record per module, and a signal that stops every port with its
// module out of command mode.
TEST(ZelkctlOnAPty, KeepsARecordAndGivesEachModuleItsOwnId) {
    ZelksimProcess first;
    ZelksimProcess second;
    ZelksimProcess refusing({"--refuse-register", "121"});
    const QTemporaryDir folder;
    const std::string ids = Write(folder, "ids.txt", "40\n");
    const std::string log = folder.filePath("line.jsonl").toStdString();
    const Result result =
        Zelkctl({"write", "-", "--set", "S121=next:" + ids, "--log", log, "-s", "T1b", "-p",
                 first.link(), "-p", second.link(), "-p", refusing.link()},
                "S111=7\r\n>");
    EXPECT_EQ(result.status, 5) << result.err;
    std::set<std::string> held;
    for (const ZelksimProcess* module : {&first, &second}) {
        const Result read = Zelkctl({"read", "-p", module->link(), "-s", "T1b"});
        held.insert(read.out.substr(read.out.find("S121=") + 5, 2));
        EXPECT_PRED_FORMAT2(testing::IsSubstring, "S111=7\n", read.out);
    }
    // The refused ID went back and comes out first next time.
    const std::string counter = ReadFile(ids);
    held.insert(counter.substr(counter.find("43\n") + 3, 2));
    EXPECT_EQ(held, (std::set<std::string>{"40", "41", "42"})) << ReadFile(ids);
    std::istringstream lines(ReadFile(log));
    int records = 0;
    for (std::string line; std::getline(lines, line); ++records) {
        const QJsonObject object =
            QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        EXPECT_EQ(object.contains("id"), object.value("exit").toInt() == 0) << line;
        EXPECT_TRUE(object.contains("time") && object.contains("written")) << line;
    }
    EXPECT_EQ(records, 3);
}

// Each port runs in a process of its own, which the stop must reach; one port alone stops
// as in process.
TEST(ZelkctlOnAPty, StopsOnASignalWithTheModuleOutOfCommandMode) {
    std::vector<std::unique_ptr<ZelksimProcess>> modules;
    std::vector<std::string> logs;
    const QTemporaryDir folder;
    QStringList arguments = {"write", "--set", "S111=7", "-s", "T1b"};
    for (int i = 0; i < 2; ++i) {
        logs.push_back(folder.filePath(QString::number(i)).toStdString());
        modules.push_back(std::make_unique<ZelksimProcess>(
            std::vector<std::string>{"--response-delay", "0.1", "--log", logs.back()}));
        arguments << "-p" << QString::fromStdString(modules.back()->link());
    }
    QProcess process;
    process.start(QString::fromStdString(ZelkctlPath()), arguments);
    ASSERT_TRUE(process.waitForStarted());
    // Once every module has taken its first set command, the line is stopped; a write
    // that never gets there fails the test rather than hang it.
    std::vector<double> times;
    for (const std::string& log : logs) {
        for (int poll = 0;
             poll < 6000 && LoggedHostBytes(log, times).find("ATS101") == std::string::npos;
             ++poll) {
            usleep(10000);
        }
        ASSERT_NE(LoggedHostBytes(log, times).find("ATS101"), std::string::npos);
    }
    kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 130);
    const std::string err = process.readAllStandardError().toStdString();
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "written: S100, S101", err);
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "not written:", err);
    for (const std::string& log : logs) {
        EXPECT_TRUE(LoggedHostBytes(log, times).ends_with("\nATX\n"));
    }
}

#endif

}  // namespace
