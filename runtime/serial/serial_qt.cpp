#include "runtime/serial/serial_qt.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QString>

#include "runtime/files/whole_files.h"
#include "runtime/serial/serial_ports.h"

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <termios.h>
#endif

namespace serial_backend {

namespace {

// The program that holds a device open, as "name (pid N)", where the system tells.
std::string HolderOf(const std::string& deviceName) {
#ifdef Q_OS_LINUX
    const QString target = QFileInfo(QString::fromStdString(deviceName)).canonicalFilePath();
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        pid.toInt(&number);
        if (!number) {
            continue;
        }
        const QDir fds(proc.filePath(pid + QStringLiteral("/fd")));
        for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
            if (fd.symLinkTarget() == target) {
                // The name the program gave itself, as ps shows it: at most 15 bytes.
                std::string comm;
                const QByteArray commPath =
                    QFile::encodeName(proc.filePath(pid + QStringLiteral("/comm")));
                const QString name =
                    ReadWholeFile(commPath.constData(), 64, &comm, nullptr) == FILEIO_NO_ERROR
                        ? QString::fromLocal8Bit(comm.data(), qsizetype(comm.size())).trimmed()
                        : QStringLiteral("a program");
                return (name + QStringLiteral(" (pid ") + pid + QStringLiteral(")")).toStdString();
            }
        }
    }
#else
    (void)deviceName;
#endif
    return std::string();
}

// How long a write may take to reach the operating system before it counts as failed:
// generous, since the driver only has to take the bytes, not send them.
int WriteTimeoutMs(long baudRate, int count) {
    const long bitsPerSecond = baudRate > 0 ? baudRate : 300;
    return 1000 + static_cast<int>(static_cast<long long>(count) * 12 * 1000 / bitsPerSecond);
}

// Qt reports a device this user may not open and one that another program holds alike;
// what the user must do differs, so tell them apart by the device's permissions.
int PermissionProblem(const std::string& deviceName, std::string* reason) {
#ifdef Q_OS_WIN
    // Windows refuses a COM port that another program has open with "access denied"; a
    // user who may use the port at all may open it.
    *reason = deviceName + ": held by another program";
    return RS232_PORT_BUSY;
#endif
    const QFileInfo info(QString::fromStdString(deviceName));
    if (info.exists() && !(info.isReadable() && info.isWritable())) {
        *reason = deviceName + ": Permission denied";
#ifdef Q_OS_UNIX
        // Serial devices belong to a group (dialout on Debian); membership is taken at
        // login, so a user just added must log in again.
        const QString group = info.group();
        if (!group.isEmpty() && info.permission(QFile::ReadGroup | QFile::WriteGroup)) {
            *reason += "; the device belongs to group " + group.toStdString() +
                       ", which this login is not in: join it (sudo usermod -aG " +
                       group.toStdString() + " $USER) and log in again";
        }
#endif
        return RS232_PERMISSION_DENIED;
    }
    *reason = deviceName + ": held by another program";
    const std::string holder = HolderOf(deviceName);
    if (!holder.empty()) {
        *reason += " (" + holder + ")";
    }
    return RS232_PORT_BUSY;
}

class QtSerialDevice : public Device {
  public:
    explicit QtSerialDevice(const Settings& settings) : settings_(settings) {}

    ~QtSerialDevice() override {
        if (port_.isOpen()) {
            port_.close();
        }
    }

    int open(const std::string& deviceName, std::string* reason) {
        port_.setPortName(QString::fromStdString(deviceName));
        if (!port_.open(QIODevice::ReadWrite)) {
            *reason = deviceName + ": " + port_.errorString().toStdString();
            switch (port_.error()) {
                case QSerialPort::DeviceNotFoundError:
                    return RS232_NO_DEVICE;
                case QSerialPort::PermissionError:
                    return PermissionProblem(deviceName, reason);
                default:
                    return RS232_OPEN_FAILED;
            }
        }
        const QSerialPort::Parity parity =
            settings_.parity == RS232_PARITY_ODD    ? QSerialPort::OddParity
            : settings_.parity == RS232_PARITY_EVEN ? QSerialPort::EvenParity
                                                    : QSerialPort::NoParity;
        const bool configured =
            port_.setBaudRate(static_cast<qint32>(settings_.baudRate)) && port_.setParity(parity) &&
            port_.setDataBits(static_cast<QSerialPort::DataBits>(settings_.dataBits)) &&
            port_.setStopBits(settings_.stopBits == 2 ? QSerialPort::TwoStop
                                                      : QSerialPort::OneStop) &&
            port_.setFlowControl(QSerialPort::NoFlowControl);
        if (!configured) {
            *reason = deviceName + ": " + port_.errorString().toStdString();
            port_.close();
            return RS232_OPEN_FAILED;
        }
        port_.setReadBufferSize(settings_.inputQueueSize);
        return RS232_NO_ERROR;
    }

    int write(const uint8_t* data, int count) override {
        if (count <= 0) {
            return 0;
        }
        if (port_.write(reinterpret_cast<const char*>(data), count) != count) {
            return Gone() ? RS232_DEVICE_GONE : RS232_WRITE_FAILED;
        }
        // QSerialPort only hands its buffer to the driver from the event loop or from a
        // waitFor call. Nobody may run the event loop before the next guard time is over,
        // so push the bytes out now.
        const int timeoutMs = WriteTimeoutMs(settings_.baudRate, count);
        // Measured on the steady clock: the runtime clock may be a test's virtual one,
        // which must not decide how long the driver gets.
        QElapsedTimer timer;
        timer.start();
        bool liftedReadLimit = false;
        while (port_.bytesToWrite() > 0) {
            // A device that went away fails every wait at once; asking again until the
            // time is up would spin a core for a second on every byte.
            if (Gone()) {
                return RS232_DEVICE_GONE;
            }
            const int remaining = timeoutMs - static_cast<int>(timer.elapsed());
            if (remaining <= 0) {
                break;
            }
            if (port_.waitForBytesWritten(remaining)) {
                continue;
            }
            // A full input queue with more bytes arriving makes Qt give up the wait for
            // the write; let the input grow past its size rather than hold the write back.
            if (!liftedReadLimit && port_.readBufferSize() != 0 &&
                port_.bytesAvailable() >= port_.readBufferSize()) {
                port_.setReadBufferSize(0);
                liftedReadLimit = true;
            }
        }
        if (liftedReadLimit) {
            port_.setReadBufferSize(settings_.inputQueueSize);
        }
        return port_.bytesToWrite() > 0 ? RS232_WRITE_FAILED : count;
    }

    int bytesWaiting() override {
        // Pull what the driver holds into the port's buffer; the caller polls with no
        // event loop running, so nothing else would.
        for (int pull = 0; pull < 8 && port_.waitForReadyRead(0); ++pull) {
        }
        if (Gone()) {
            return RS232_DEVICE_GONE;
        }
        return static_cast<int>(port_.bytesAvailable());
    }

    int readByte() override {
        char byte = 0;
        if (!port_.getChar(&byte)) {
            return RS232_NOTHING_WAITING;
        }
        return static_cast<unsigned char>(byte);
    }

    void discardInput() override { port_.clear(QSerialPort::Input); }

    void discardOutput() override { port_.clear(QSerialPort::Output); }

    void drainOutput() override {
        port_.flush();
#ifdef Q_OS_WIN
        FlushFileBuffers(port_.handle());
#else
        tcdrain(port_.handle());
#endif
    }

  private:
    // Unplugged adapters show as a resource error (the system's EIO or ENXIO); a line hung
    // up from its far end (a pty whose other end closed) reads as its end, a read error.
    // Either stays until the port is closed; a working port, opened with CLOCAL, has neither.
    bool Gone() const {
        return port_.error() == QSerialPort::ResourceError ||
               port_.error() == QSerialPort::ReadError;
    }

    Settings settings_;
    QSerialPort port_;
};

}  // namespace

std::unique_ptr<Device> OpenQtSerialPort(const std::string& deviceName, const Settings& settings,
                                         int* error, std::string* reason) {
    auto device = std::make_unique<QtSerialDevice>(settings);
    *error = device->open(deviceName, reason);
    if (*error != RS232_NO_ERROR) {
        return nullptr;
    }
    return device;
}

std::vector<PortInfo> ListSystemPorts() {
    std::vector<PortInfo> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        ports.push_back({info.portName().toStdString(), info.systemLocation().toStdString(),
                         info.description().toStdString(), info.manufacturer().toStdString(),
                         info.serialNumber().toStdString(),
                         info.hasVendorIdentifier() ? info.vendorIdentifier() : -1,
                         info.hasProductIdentifier() ? info.productIdentifier() : -1});
    }
    return ports;
}

}  // namespace serial_backend
