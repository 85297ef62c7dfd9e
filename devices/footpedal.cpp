#include "footpedal.h"

#include <hidapi/hidapi.h>

#include <QDebug>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <memory>

#include <unistd.h>

static const unsigned short vendorId = 0x05F3;
static const unsigned short productId = 0x00FF;
static const size_t stringLength = 255;
static const size_t requestLength = 17;
static const size_t bufferLength = 256;
static const int readTimeoutMs = 50;

// Asks the pedal for its switch state: report number 1, command 0x81.
static const unsigned char stateRequest[requestLength] = {0x01, 0x81};

namespace
{
// Closes the device however the connection ends; a thread terminated inside a read unwinds
// through here too.
struct DeviceCloser {
    void operator()(hid_device *device) const
    {
        hid_close(device);
        hid_exit();
    }
};
using Device = std::unique_ptr<hid_device, DeviceCloser>;

using StringReader = int (*)(hid_device *, wchar_t *, size_t);
} // namespace

static bool readstring(hid_device *device, StringReader read, const char *name, wchar_t *text)
{
    text[0] = 0;
    if (read(device, text, stringLength) >= 0)
        return true;
    printf("Unable to read %s\n", name);
    return false;
}

// Prints what the pedal says of itself. One that cannot name its maker or product is not
// used; a missing serial number or indexed string does not matter.
static bool introduce(hid_device *device, QString *product)
{
    wchar_t text[stringLength];
    if (!readstring(device, hid_get_manufacturer_string, "manufacturer string", text))
        return false;
    printf("Manufacturer String: %ls\n", text);
    if (!readstring(device, hid_get_product_string, "product string", text))
        return false;
    printf("Product String: %ls\n", text);
    *product = QString::fromWCharArray(text);
    readstring(device, hid_get_serial_number_string, "serial number string", text);
    printf("Serial Number String: (%d) %ls\n", static_cast<int>(text[0]), text);
    text[0] = 0;
    if (hid_get_indexed_string(device, 1, text, stringLength) < 0)
        printf("Unable to read indexed string 1\n");
    printf("Indexed String 1: %ls\n", text);
    return true;
}

// Drops what the pedal sent before anyone listened and asks it for its state. A pedal that
// takes no output report still works, so only the failing read ends the connection.
static bool prepare(hid_device *device)
{
    unsigned char drained[requestLength];
    hid_set_nonblocking(device, 1);
    const int result = hid_read(device, drained, requestLength);
    hid_write(device, stateRequest, requestLength);
    if (result >= 0)
        return true;
    printf("Unable to write() (2)\n");
    return false;
}

// One write per report, so lines that other threads print never land inside it.
static void printreport(const unsigned char *data, int length)
{
    char line[16 + 3 * bufferLength];
    int used = snprintf(line, sizeof line, "Data read:\n   ");
    for (int i = 0; i < length; ++i)
        used += snprintf(line + used, sizeof line - used, "%02hhx ", data[i]);
    line[used++] = '\n';
    fwrite(line, 1, static_cast<size_t>(used), stdout);
}

// A stop requested before the connection began skips it: the thread is about to finish.
void FootPedal::run()
{
    if (!m_stopRequested)
        connectOnce();
    if (!m_stopRequested)
        emit stopped();
}

// An absent pedal ends the connection silently.
void FootPedal::connectOnce()
{
    const Device device(hid_open(vendorId, productId, nullptr));
    if (!device) {
        explainFailedOpen();
        return;
    }
    QString product;
    if (!introduce(device.get(), &product) || !prepare(device.get()))
        return;
    m_problem.clear();
    qDebug() << "emit started" << thread();
    emit connected(product);
    emit started();
    hid_set_nonblocking(device.get(), 0);
    readReports(device.get());
}

// A pedal that is there but cannot be opened (most often for the permissions of its device node)
// is worth one line when that begins, not one at every attempt.
void FootPedal::explainFailedOpen()
{
    hid_device_info *devices = hid_enumerate(vendorId, productId);
    QString problem;
    if (devices) {
        const char *path = devices->path ? devices->path : "";
        const int error = access(path, R_OK | W_OK) == 0 ? 0 : errno;
        problem = QString("Foot pedal at %1 cannot be opened: %2")
                      .arg(QString::fromLocal8Bit(path),
                           error ? qt_error_string(error) : QString("the device refused"));
    }
    hid_free_enumeration(devices);
    if (problem == m_problem)
        return;
    m_problem = problem;
    if (!problem.isEmpty())
        qWarning("%s", qPrintable(problem));
}

// A failing read is an unplugged or broken pedal.
void FootPedal::readReports(hid_device *device)
{
    unsigned char buffer[bufferLength];
    while (!m_stopRequested) {
        const int length = hid_read_timeout(device, buffer, bufferLength, readTimeoutMs);
        if (length < 0) {
            printf("Unable to read()\n");
            return;
        }
        if (length == 0)
            continue;
        printreport(buffer, length);
        emit changed(buffer[0]);
    }
}
