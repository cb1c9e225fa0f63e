#include "runtime/serial/serial_qt.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QString>

#include "runtime/serial/rs232.h"

namespace serial_backend {

namespace {

// How long a write may take to reach the operating system before it counts as failed:
// generous, since the driver only has to take the bytes, not send them.
int WriteTimeoutMs(long baudRate, int count) {
    const long bitsPerSecond = baudRate > 0 ? baudRate : 300;
    return 1000 + static_cast<int>(static_cast<long long>(count) * 12 * 1000 / bitsPerSecond);
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
            return port_.error() == QSerialPort::DeviceNotFoundError ? RS232_NO_DEVICE
                                                                     : RS232_OPEN_FAILED;
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
            return RS232_WRITE_FAILED;
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

  private:
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
                         info.description().toStdString()});
    }
    return ports;
}

}  // namespace serial_backend
