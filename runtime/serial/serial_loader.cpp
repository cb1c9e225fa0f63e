// Loads the zelkserial module, which holds the real ports over Qt SerialPort, on the first
// serial step. The window shows its panel without loading Qt SerialPort and the system's
// device library first: they cost its start-up time and nothing needs them before a port
// is listed or opened.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>
#include <mutex>

#ifdef Q_OS_WIN
#include <QLibrary>
#else
#include <dlfcn.h>
#endif

#include "runtime/serial/rs232.h"
#include "runtime/serial/serial_qt.h"

namespace serial_backend {

namespace {

struct LoadedModule {
    const SerialModule* module = nullptr;
    std::string problem;  // why there is none
};

std::mutex loadLock;
std::vector<std::string> chosenFolders;
std::unique_ptr<LoadedModule> loaded;

// Beside the program in a build tree, a portable copy or a Windows folder; in the package's
// library folder, ZELK_SERIAL_MODULE_DIR from the program's own, in an installation. The
// program's folder is asked of the system where it tells without an application object,
// which the tests do not have.
std::vector<QString> ProgramFolders() {
#ifdef Q_OS_LINUX
    const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    const QDir folder = QFileInfo(program).dir();
#else
    if (QCoreApplication::instance() == nullptr) {
        return {QString()};  // the system's own search, which on Windows starts there
    }
    const QDir folder(QCoreApplication::applicationDirPath());
#endif
    return {folder.path(),
            QDir::cleanPath(folder.filePath(QStringLiteral(ZELK_SERIAL_MODULE_DIR)))};
}

using Entry = const SerialModule* (*)();

// The module's entry, or nullptr with the system's reason in failure. The module stays
// loaded for the rest of the process: its code runs in every open port.
Entry OpenModule(const QString& path, QString* failure) {
#ifdef Q_OS_WIN
    QLibrary library(path);
    const auto entry =
        library.load() ? reinterpret_cast<Entry>(library.resolve(kSerialModuleEntry)) : nullptr;
    if (!library.isLoaded()) {
        *failure = library.errorString();
        return nullptr;
    }
#else
    // dlopen itself, not QLibrary: QLibrary tries other names after the one given and
    // reports the last, where the reason for this exact file is what helps.
    void* handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        *failure = QString::fromLocal8Bit(dlerror());
        return nullptr;
    }
    const auto entry = reinterpret_cast<Entry>(dlsym(handle, kSerialModuleEntry));
#endif
    if (entry == nullptr) {
        *failure = QStringLiteral("%1: not a serial module of this program")
                       .arg(QDir::toNativeSeparators(path));
    }
    return entry;
}

LoadedModule Load(const std::vector<QString>& folders) {
    LoadedModule result;
    QStringList failures;
    const QString name = QStringLiteral(ZELK_SERIAL_MODULE_FILE);
    for (const QString& folder : folders) {
        const QString path = folder.isEmpty() ? name : QDir(folder).filePath(name);
        QString failure;
        const Entry entry = OpenModule(path, &failure);
        const SerialModule* module = entry != nullptr ? entry() : nullptr;
        if (module != nullptr && module->abi == kSerialModuleAbi) {
            result.module = module;
            return result;
        }
        failures << (entry == nullptr ? failure
                                      : QStringLiteral("%1: a serial module of another build")
                                            .arg(QDir::toNativeSeparators(path)));
    }
    result.problem = "the serial port module cannot be loaded: " +
                     failures.join(QStringLiteral("; ")).toStdString();
    std::fprintf(stderr, "%s\n", result.problem.c_str());
    std::fflush(stderr);
    return result;
}

const LoadedModule& Module() {
    const std::lock_guard<std::mutex> hold(loadLock);
    if (!loaded) {
        std::vector<QString> folders;
        for (const std::string& folder : chosenFolders) {
            folders.push_back(QString::fromStdString(folder));
        }
        loaded = std::make_unique<LoadedModule>(Load(folders.empty() ? ProgramFolders() : folders));
    }
    return *loaded;
}

}  // namespace

void SetSerialModuleFolders(std::vector<std::string> folders) {
    const std::lock_guard<std::mutex> hold(loadLock);
    chosenFolders = std::move(folders);
    // A module once loaded stays in the process; only the choice is made again.
    loaded.reset();
}

std::unique_ptr<Device> OpenThroughModule(const std::string& deviceName, const Settings& settings,
                                          int* error, std::string* reason) {
    const LoadedModule& module = Module();
    if (module.module == nullptr) {
        *error = RS232_OPEN_FAILED;
        *reason = module.problem;
        return nullptr;
    }
    return module.module->open(deviceName, settings, error, reason);
}

std::vector<PortInfo> ListThroughModule() {
    const LoadedModule& module = Module();
    return module.module != nullptr ? module.module->list() : std::vector<PortInfo>{};
}

}  // namespace serial_backend
