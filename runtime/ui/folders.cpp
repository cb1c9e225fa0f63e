// Folders: where panel files are looked for, the program's own directory, and the folder a
// file dialog first offers.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cstring>

#include "runtime/ui/ui_internal.h"

namespace ui_runtime {

namespace {

// Copies a path into a caller's buffer of MAX_PATHNAME_LEN bytes, in the system's own
// separators and encoding.
int CopyPath(const QString& path, char* dir) {
    const QByteArray encoded = QFile::encodeName(QDir::toNativeSeparators(path));
    if (std::size_t(encoded.size()) + 1 > MAX_PATHNAME_LEN) {
        return UIE_PATH_TOO_LONG;
    }
    std::memcpy(dir, encoded.constData(), std::size_t(encoded.size()) + 1);
    return UIE_NO_ERROR;
}

}  // namespace

QString FindPanelFile(const QString& name, std::string& reason) {
    if (!QFileInfo(name).isRelative()) {
        return name;
    }
    const QDir program(QCoreApplication::applicationDirPath());
    std::vector<std::string> directories = State().panelDirectories;
    if (directories.empty()) {
        directories.emplace_back(".");
    }
    QStringList looked;
    for (const std::string& directory : directories) {
        const QString path = QDir::cleanPath(
            QDir(program.filePath(QString::fromStdString(directory))).filePath(name));
        if (QFileInfo::exists(path)) {
            return path;
        }
        looked << path;
    }
    // One place: the system's own words for it, as when the file cannot be opened.
    if (looked.size() == 1) {
        return looked.front();
    }
    for (QString& path : looked) {
        path = QDir::toNativeSeparators(path);
    }
    reason = QStringLiteral("cannot find %1: looked for %2")
                 .arg(name, looked.join(QLatin1String(", ")))
                 .toStdString();
    return QString();
}

}  // namespace ui_runtime

using namespace ui_runtime;

int SetPanelDirectories(const char* const* directories, int count) {
    if (count < 0 || (count > 0 && directories == nullptr)) {
        return UIE_BAD_VALUE;
    }
    std::vector<std::string> chosen;
    for (int i = 0; i < count; ++i) {
        if (directories[i] == nullptr || *directories[i] == '\0') {
            return UIE_BAD_VALUE;
        }
        chosen.emplace_back(directories[i]);
    }
    State().panelDirectories = std::move(chosen);
    return UIE_NO_ERROR;
}

int GetProjectDir(char* dir) {
    if (QCoreApplication::instance() == nullptr) {
        return UIE_NOT_INITIALISED;
    }
    return CopyPath(QCoreApplication::applicationDirPath(), dir);
}

int GetUserFilesDir(char* dir) {
    if (QCoreApplication::instance() == nullptr) {
        return UIE_NOT_INITIALISED;
    }
    // A program whose panel lies beside it runs from a folder of its own (a build tree, a
    // portable copy), where the user keeps its files when that folder takes them. One
    // installed with the system's programs finds its panel in a data directory instead,
    // and its folder is no place for the user's files, even for a user who could write
    // there.
    const QString program = QCoreApplication::applicationDirPath();
    bool ownFolder = false;
    for (const auto& [handle, panel] : State().panels) {
        ownFolder = ownFolder || QDir(QString::fromStdString(panel->directory)) == QDir(program);
    }
    QString chosen = program;
    if (!ownFolder || !QFileInfo(program).isWritable()) {
        const QString documents =
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        chosen =
            !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
    }
    return CopyPath(chosen, dir);
}
