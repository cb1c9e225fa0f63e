#include "tests/support/together.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::map<std::string, ChildBody>& Bodies() {
    static std::map<std::string, ChildBody> bodies;
    return bodies;
}

// The test program's own file, which the children run.
QString ThisProgram() {
#ifdef _WIN32
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return QString::fromWCharArray(path);
#else
    return QString::fromStdString(std::filesystem::read_symlink("/proc/self/exe").string());
#endif
}

const char* const kBodyVariable = "ZELK_TEST_CHILD";
const char* const kIndexVariable = "ZELK_TEST_CHILD_INDEX";
const char* const kArgumentVariable = "ZELK_TEST_CHILD_ARGUMENT";
const char* const kStartVariable = "ZELK_TEST_CHILD_START";

}  // namespace

ChildBodyRegistration::ChildBodyRegistration(const char* name, ChildBody body) {
    Bodies()[name] = body;
}

int RunChildIfAsked() {
    const char* name = std::getenv(kBodyVariable);
    if (name == nullptr) {
        return -1;
    }
    const auto body = Bodies().find(name);
    if (body == Bodies().end()) {
        std::fprintf(stderr, "no child body %s in this test program\n", name);
        return 2;
    }
    // Starting a process takes long and unevenly, under Wine above all: the bodies wait for
    // the word to go, so that they run at the same time. A parent that failed before it gave
    // the word leaves no child behind for long.
    const std::filesystem::path start = std::getenv(kStartVariable);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(4);
    while (!std::filesystem::exists(start)) {
        if (std::chrono::steady_clock::now() > giveUp) {
            std::fprintf(stderr, "no word to go came to this child of %s\n", name);
            return 3;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    body->second(std::atoi(std::getenv(kIndexVariable)), std::getenv(kArgumentVariable));
    std::fflush(stdout);
    std::fflush(stderr);
    return 0;
}

void RunTogether(const char* name, int count, const std::string& argument) {
    const QTemporaryDir folder;
    const QString start = folder.filePath("start");
    std::vector<std::unique_ptr<QProcess>> children;
    for (int child = 0; child < count; ++child) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(kBodyVariable, name);
        environment.insert(kIndexVariable, QString::number(child));
        environment.insert(kArgumentVariable, QString::fromStdString(argument));
        environment.insert(kStartVariable, start);
        children.push_back(std::make_unique<QProcess>());
        children.back()->setProcessEnvironment(environment);
        children.back()->setProcessChannelMode(QProcess::MergedChannels);
        children.back()->start(ThisProgram(), {});
        ASSERT_TRUE(children.back()->waitForStarted())
            << children.back()->errorString().toStdString();
    }
    QFile(start).open(QIODevice::WriteOnly);
    for (int child = 0; child < count; ++child) {
        QProcess& process = *children[static_cast<std::size_t>(child)];
        // Only against a hang: a loaded machine may take long.
        const bool finished = process.waitForFinished(240000);
        EXPECT_TRUE(finished && process.exitStatus() == QProcess::NormalExit &&
                    process.exitCode() == 0)
            << "child " << child << " of " << name << ": " << process.readAll().toStdString();
        if (!finished) {
            process.kill();
            process.waitForFinished();
        }
    }
}
