// What zelkctl takes in before a port opens, and what it keeps beside the modules: the strict
// setting-file reader, the device ID counter that several processes share, and the
// production log that they all append to.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <numeric>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "core/params/config_text.h"
#include "core/product/series.h"
#include "tools/zelkctl/id_counter.h"
#include "tools/zelkctl/log_file.h"
#include "tools/zelkctl/setting_file.h"

namespace {

namespace fs = std::filesystem;

// A folder of its own for each test, removed with it.
struct Folder {
    fs::path path;
    Folder() {
        std::string name = (fs::temp_directory_path() / "zelkctl-input-XXXXXX").string();
        path = mkdtemp(name.data());
    }
    ~Folder() { fs::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
};

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The records as "S111=5 S120=10.20", and the errors as "line: text" lines.
std::string Records(const SettingFile& file) {
    std::string text;
    for (const SettingRecord& record : file.records) {
        text += (text.empty() ? "" : " ") + ("S" + std::to_string(record.number)) + "=" +
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

// Runs body in `count` child processes that start together once all exist; each child's
// standard output comes back as one string. A child that fails exits non-zero.
std::vector<std::string> RunTogether(int count, const std::function<void(int, FILE*)>& body) {
    int start[2];
    EXPECT_EQ(pipe(start), 0);
    std::vector<std::pair<pid_t, int>> children;
    for (int child = 0; child < count; ++child) {
        int output[2];
        EXPECT_EQ(pipe(output), 0);
        const pid_t pid = fork();
        if (pid == 0) {
            close(start[1]);
            close(output[0]);
            char go = 0;
            (void)!read(start[0], &go, 1);  // returns when the parent closes its end
            FILE* out = fdopen(output[1], "w");
            body(child, out);
            std::fclose(out);
            _exit(0);
        }
        close(output[1]);
        children.emplace_back(pid, output[0]);
    }
    close(start[0]);
    close(start[1]);
    std::vector<std::string> outputs;
    for (const auto& [pid, output] : children) {
        std::string text;
        char buffer[4096];
        for (ssize_t count = 0; (count = read(output, buffer, sizeof buffer)) > 0;) {
            text.append(buffer, static_cast<std::size_t>(count));
        }
        close(output);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child " << pid;
        outputs.push_back(text);
    }
    return outputs;
}

// ---- Setting files ----------------------------------------------------------------------

// What the window saves, and hand-made files in the same format, come in whole.
TEST(SettingFile, TakesWellFormedFilesAndEveryFileTheWindowSaves) {
    // clang-format off
    std::vector<std::pair<std::string, std::string>> cases = {  // the file, its records
        {"S111=5\nS120=10.20\n", "S111=5 S120=10.20"},           // LF line ends, no ">"
        {"S111=5\r\nS100=0", "S111=5 S100=0"},                    // no line end at the end
        {"S111=255\r\n>\r\n", "S111=255"},                        // ">" with a line end
        {"\r\n  \t\r\nS111=5\n\n>", "S111=5"},                     // blank lines
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

struct BadFileCase {
    const char* name;
    std::string text;
    int line;                        // of the first error; 0 for the whole file
    std::vector<std::string> words;  // each in the first error
};

TEST(SettingFile, RefusesEachWrongLineAndEachFileThatIsNotOne) {
    // clang-format off
    const BadFileCase cases[] = {
        {"spaces around =", "S100=50\nS111 = 5\n", 2, {"\"S111 = 5\"", "no spaces", "write \"S111=5\""}},
        {"a tab before the value", "S111=\t5", 1, {"tabs"}},
        {"trailing characters", "S111=5x\n", 1, {"\"x\"", "after the value"}},
        {"hexadecimal", "S111=0x10", 1, {"decimal"}},
        {"a leading zero", "S100=50\r\nS111=05\r\n", 2, {"leading zeros", "write 5, not 05"}},
        {"a sign", "S111=-1", 1, {"no sign"}},
        {"over 255", "S111=256", 1, {"256 is more than 255"}},
        {"four digits", "S111=1000", 1, {"1000 is more than 255"}},
        {"no value", "S111=\n", 1, {"missing"}},
        {"a register not of the set", "S106=1", 1, {"S106", "S100 to S105, S110 to S113 and S120 to S130"}},
        {"S999", "S111=1\nS999=1", 2, {"S999 is not a register"}},
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
        {"a blank line after \">\"", "S111=5\r\n>\r\n\r\n", 3, {"after the \">\""}},
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
    for (const BadFileCase& row : cases) {
        const SettingFile file = ParseSettingFile(row.text);
        ASSERT_FALSE(file.errors.empty()) << row.name;
        EXPECT_EQ(file.errors.front().first, row.line) << row.name << "\n" << Errors(file);
        for (const std::string& word : row.words) {
            EXPECT_NE(file.errors.front().second.find(word), std::string::npos)
                << row.name << ": no \"" << word << "\" in\n"
                << Errors(file);
        }
    }
}

// One run shows every wrong line, also a register given twice whose first line is wrong
// too; a flood of errors ends with how many more there were.
TEST(SettingFile, ListsEveryErrorUpToItsLimit) {
    const SettingFile three = ParseSettingFile("S111 =5\nS100=50\nS112=x\n\nS111=7\n");
    EXPECT_EQ(Errors(three).substr(0, 3), "1: ");
    EXPECT_NE(Errors(three).find("\n3: "), std::string::npos);
    EXPECT_NE(Errors(three).find("\n5: S111 is given twice"), std::string::npos);
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

struct ReadCase {
    const char* name;
    const char* path;      // in the test's folder; "-" for standard input, from "a.txt"
    std::string content;   // of "a.txt"
    std::string expected;  // the bytes read, or words of the reason
    bool good;
    bool fromPipe = false;  // standard input from a pipe
};

TEST(SettingFile, ReadsWholeFilesUpToTheirLimit) {
    // clang-format off
    const ReadCase cases[] = {
        {"the largest size", "a.txt", std::string(1028, 'S'), std::string(1028, 'S'), true},
        {"standard input, CRLF kept", "-", "S111=5\r\n>", "S111=5\r\n>", true},
        {"a missing file", "none.txt", "", "No such file", false},
        {"a folder", ".", "", "folder", false},
        {"too large", "a.txt", std::string(5000, 'S'), "the file is 5000 bytes, more than the 1028", false},
        {"too large, on standard input", "-", std::string(5000, 'S'), "the file is 5000 bytes", false},
        {"a pipe too large", "-", std::string(2000, 'S'), "longer than the 1028 bytes", false, true},
    };
    // clang-format on
    const int input = dup(0);
    for (const ReadCase& row : cases) {
        Folder folder;
        WriteFile(folder / "a.txt", row.content);
        int ends[2] = {open((folder / "a.txt").c_str(), O_RDONLY), -1};
        if (row.fromPipe) {
            close(ends[0]);
            ASSERT_EQ(pipe(ends), 0);
            ASSERT_EQ(write(ends[1], row.content.data(), row.content.size()),
                      static_cast<ssize_t>(row.content.size()));
            close(ends[1]);
        }
        dup2(ends[0], 0);
        close(ends[0]);
        std::string bytes;
        std::string error;
        const std::string path = row.path[0] == '-' ? "-" : folder / row.path;
        EXPECT_EQ(ReadWholeFile(path, 1028, &bytes, &error), row.good) << row.name << error;
        if (row.good) {
            EXPECT_EQ(bytes, row.expected) << row.name;
        } else {
            EXPECT_NE(error.find(row.expected), std::string::npos) << row.name << ": " << error;
        }
    }
    dup2(input, 0);
    close(input);
}

// ---- The device ID counter -------------------------------------------------------------

enum class CounterStep { Take, GiveBack, Peek };

struct CounterCase {
    const char* name;
    const char* before;  // the file; nullptr: none
    CounterStep step;
    DeviceId given;               // what GiveBack gives
    std::string expected;         // the ID taken or peeked, or words of the error
    const char* after = nullptr;  // the file afterwards; nullptr: as before
    bool throughLink = false;
};

void RunCounterCase(const CounterCase& row) {
    Folder folder;
    const std::string file = folder / "ids.txt";
    if (row.before != nullptr) {
        WriteFile(file, row.before);
    }
    std::string path = file;
    if (row.throughLink) {
        path = folder / "line-3.ids";
        fs::create_symlink(file, path);
    }
    DeviceId id{};
    std::string error;
    const bool done = row.step == CounterStep::Take       ? TakeId(path, &id, &error)
                      : row.step == CounterStep::GiveBack ? GiveBackId(path, row.given, &error)
                                                          : PeekId(path, &id, &error);
    const bool failure = row.expected.find(' ') != std::string::npos;
    EXPECT_EQ(done, !failure) << row.name << ": " << error;
    if (failure) {
        EXPECT_NE(error.find(row.expected), std::string::npos) << row.name << ": " << error;
        EXPECT_EQ(error.find(path), 0u) << row.name << ": " << error;
    } else if (row.step != CounterStep::GiveBack) {
        EXPECT_EQ(IdText(id), row.expected) << row.name;
    }
    if (row.before != nullptr) {
        EXPECT_EQ(ReadFile(file), row.after != nullptr ? row.after : row.before) << row.name;
    }
    EXPECT_EQ(fs::is_symlink(path), row.throughLink) << row.name;
    EXPECT_FALSE(fs::exists(folder / ".ids.txt.tmp")) << row.name;
}

TEST(IdCounter, HandsOutEachIdOnceAndTakesBackWhatNoModuleGot) {
    using enum CounterStep;
    const DeviceId none{};
    // clang-format off
    const CounterCase cases[] = {
        {"a new counter", "1\n", Take, none, "1", "2\n"},
        {"written by a Windows editor", "5\r\n", Take, none, "5", "6\n"},
        {"comments kept, the low part carries", "# line 3\n\n10.255\n", Take, none, "10.255", "# line 3\n\n11.0\n"},
        {"through a symbolic link", "7\n", Take, none, "7", "8\n", true},
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
    for (const CounterCase& row : cases) {
        RunCounterCase(row);
    }
}

// Eight processes, each taking IDs as a port of a production line does and giving back
// every fourth as a failed write would, all from one file at once. No ID goes to two
// modules, and every ID the counter passed is either in a module or given back.
TEST(IdCounter, ManyProcessesAtOnceNeverShareAnId) {
    Folder folder;
    const std::string path = folder / "ids.txt";
    WriteFile(path, "# line 3\n10.250\n");
    constexpr int kProcesses = 8;
    constexpr int kTakes = 25;
    const std::vector<std::string> outputs = RunTogether(kProcesses, [&](int, FILE* out) {
        for (int take = 0; take < kTakes; ++take) {
            DeviceId id{};
            std::string error;
            if (!TakeId(path, &id, &error) || (take % 4 == 3 && !GiveBackId(path, id, &error))) {
                std::fprintf(stderr, "%s\n", error.c_str());
                _exit(1);
            }
            if (take % 4 != 3) {
                std::fprintf(out, "%s\n", IdText(id).c_str());
            }
        }
    });
    // What the modules got, what the file lists as given back, and its next ID.
    const auto ordinal = [](const std::string& id) {
        return std::stoi(id) * 256 + std::stoi(id.substr(id.find('.') + 1));
    };
    std::vector<int> passed;
    for (const std::string& output : outputs) {
        std::istringstream lines(output);
        for (std::string id; std::getline(lines, id);) {
            passed.push_back(ordinal(id));
        }
    }
    EXPECT_EQ(passed.size(), static_cast<std::size_t>(kProcesses * (kTakes - kTakes / 4)));
    std::istringstream lines(ReadFile(path));
    std::string next;
    ASSERT_TRUE(std::getline(lines, next) && next == "# line 3" && std::getline(lines, next));
    for (std::string id; std::getline(lines, id);) {
        passed.push_back(ordinal(id));
    }
    // Each ID from the first to the one before the next, once: none twice, none lost.
    std::sort(passed.begin(), passed.end());
    std::vector<int> expected(static_cast<std::size_t>(ordinal(next) - ordinal("10.250")));
    std::iota(expected.begin(), expected.end(), ordinal("10.250"));
    EXPECT_EQ(passed, expected);
}

// ---- The production log ----------------------------------------------------------------

struct LogCase {
    const char* name;
    const char* before;  // the log; nullptr: none
    std::string line;
    std::string expected;  // the log afterwards, or words of the error
    bool good;
    std::string folder = "";  // a folder of the log's path, when not the test's own
    rlim_t sizeLimit = RLIM_INFINITY;
};

TEST(LogFile, AppendsWholeLinesOrNothing) {
    // clang-format off
    const LogCase cases[] = {
        {"a new log", nullptr, "{\"exit\":0}", "{\"exit\":0}\n", true},
        {"after the lines there", "{\"exit\":0}\n", "{\"exit\":5}", "{\"exit\":0}\n{\"exit\":5}\n", true},
        {"a line end inside the line", "{}\n", "{\"error\":\"a\nb\"}", "line end", false},
        {"a folder that is not there", nullptr, "{}", "No such file", false, "none/"},
        // The disk fills halfway through the line: what was written of it is taken back.
        {"a full disk", "{}\n", std::string(200, 'x'), "File too large", false, "", 100},
    };
    // clang-format on
    const mode_t mask = umask(027);
    for (const LogCase& row : cases) {
        Folder folder;
        const std::string path = folder / (row.folder + "log.jsonl");
        if (row.before != nullptr) {
            WriteFile(path, row.before);
        }
        // A child of its own, for its file size limit.
        const std::vector<std::string> outputs = RunTogether(1, [&](int, FILE* out) {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{row.sizeLimit, row.sizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
            std::string error;
            const bool done = AppendLogLine(path, row.line, &error);
            std::fprintf(out, "%d%s", done ? 1 : 0, error.c_str());
        });
        ASSERT_EQ(outputs.size(), 1u);
        EXPECT_EQ(outputs[0][0] == '1', row.good) << row.name << ": " << outputs[0];
        const std::string log = ReadFile(path);
        if (row.good) {
            EXPECT_EQ(log, row.expected) << row.name;
        } else {
            EXPECT_NE(outputs[0].find(row.expected), std::string::npos)
                << row.name << ": " << outputs[0];
            EXPECT_EQ(log, row.before != nullptr ? row.before : "") << row.name;
        }
        struct stat status {};
        if (row.before == nullptr && row.good) {
            EXPECT_EQ(stat(path.c_str(), &status), 0);
            EXPECT_EQ(status.st_mode & 0777, 0640u) << row.name;
        }
    }
    umask(mask);
}

// Eight processes append at once, lines longer than a pipe's atomic write and of every
// length; each line comes out whole, once, and each writer's in its order.
TEST(LogFile, ParallelWritersNeverMixTheirLines) {
    Folder folder;
    const std::string path = folder / "line-3.jsonl";
    constexpr int kWriters = 8;
    constexpr int kLines = 100;
    const auto lineOf = [](int writer, int number) {
        const std::size_t length = 1 + static_cast<std::size_t>(writer * 997 + number * 61) % 9000;
        return "{\"port\":\"COM" + std::to_string(writer) + "\",\"n\":" + std::to_string(number) +
               ",\"pad\":\"" + std::string(length, static_cast<char>('a' + writer)) + "\"}";
    };
    RunTogether(kWriters, [&](int writer, FILE*) {
        for (int number = 0; number < kLines; ++number) {
            std::string error;
            if (!AppendLogLine(path, lineOf(writer, number), &error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                _exit(1);
            }
        }
    });
    std::istringstream log(ReadFile(path));
    std::vector<int> next(kWriters, 0);
    int count = 0;
    for (std::string line; std::getline(log, line); ++count) {
        const std::size_t port = line.find("COM");
        ASSERT_NE(port, std::string::npos) << "a line not whole: " << line.substr(0, 80);
        const int writer = line[port + 3] - '0';
        ASSERT_TRUE(writer >= 0 && writer < kWriters) << line.substr(0, 80);
        ASSERT_EQ(line, lineOf(writer, next[writer]))
            << "line " << count + 1 << " is not whole: " << line.substr(0, 80);
        ++next[writer];
    }
    EXPECT_EQ(count, kWriters * kLines);
}

}  // namespace
