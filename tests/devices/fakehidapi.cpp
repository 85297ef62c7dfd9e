#include "fakehidapi.h"

#include <hidapi/hidapi.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <mutex>
#include <sstream>

struct hid_device_ {
    bool gone = false;
};

namespace
{
const unsigned short vendorId = 0x05F3;
const unsigned short productId = 0x00FF;

// The worker reads on its thread while the test scripts on the main one.
struct Pedal {
    std::mutex mutex;
    std::condition_variable changed;
    // An empty entry is the unplug: the read that takes it fails, and the pedal is gone.
    std::deque<std::string> reports;
    bool present = false;
    int failures = 0;
    fakehid::Counts counts{};
};

Pedal &pedal()
{
    static Pedal p;
    return p;
}

int fillstring(int failure, const wchar_t *text, wchar_t *string, size_t maxlen)
{
    {
        const std::lock_guard<std::mutex> lock(pedal().mutex);
        if (pedal().failures & failure)
            return -1;
    }
    wcsncpy(string, text, maxlen);
    string[maxlen - 1] = 0;
    return 0;
}

// A program started by a test finds its pedal described in the environment.
[[maybe_unused]] const bool scriptedFromEnvironment = [] {
    const char *script = getenv("FAKEHIDAPI_REPORTS");
    if (!script)
        return false;
    fakehid::plug();
    fakehid::reports(script);
    return true;
}();
} // namespace

namespace fakehid
{
void reset()
{
    Pedal &p = pedal();
    const std::lock_guard<std::mutex> lock(p.mutex);
    p.reports.clear();
    p.present = false;
    p.failures = 0;
    p.counts = Counts{};
}

void plug(int failures)
{
    Pedal &p = pedal();
    const std::lock_guard<std::mutex> lock(p.mutex);
    p.reports.clear();
    p.present = true;
    p.failures = failures;
}

static std::string fromhex(const std::string &word)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < word.size(); i += 2)
        bytes += static_cast<char>(std::stoi(word.substr(i, 2), nullptr, 16));
    return bytes;
}

static void queue(const std::string &entry)
{
    Pedal &p = pedal();
    const std::lock_guard<std::mutex> lock(p.mutex);
    p.reports.push_back(entry);
    p.changed.notify_all();
}

void reports(const std::string &words)
{
    std::istringstream stream(words);
    std::string word;
    while (stream >> word)
        queue(fromhex(word));
}

void unplug()
{
    queue(std::string());
}

void unblock()
{
    Pedal &p = pedal();
    const std::lock_guard<std::mutex> lock(p.mutex);
    p.failures &= ~Write;
    p.changed.notify_all();
}

Counts counts()
{
    const std::lock_guard<std::mutex> lock(pedal().mutex);
    return pedal().counts;
}
} // namespace fakehid

hid_device *hid_open(unsigned short vendor_id, unsigned short product_id, const wchar_t *serial)
{
    Pedal &p = pedal();
    const std::lock_guard<std::mutex> lock(p.mutex);
    if (!p.present || (p.failures & fakehid::Open) || vendor_id != vendorId ||
        product_id != productId || serial)
        return nullptr;
    ++p.counts.opens;
    ++p.counts.openDevices;
    return new hid_device;
}

void hid_close(hid_device *device)
{
    Pedal &p = pedal();
    const std::lock_guard<std::mutex> lock(p.mutex);
    --p.counts.openDevices;
    delete device;
}

int hid_exit()
{
    const std::lock_guard<std::mutex> lock(pedal().mutex);
    ++pedal().counts.exits;
    return 0;
}

int hid_get_manufacturer_string(hid_device *, wchar_t *string, size_t maxlen)
{
    return fillstring(fakehid::Manufacturer, L"Fake Pedals", string, maxlen);
}

int hid_get_product_string(hid_device *, wchar_t *string, size_t maxlen)
{
    return fillstring(fakehid::Product, L"Foot Switch", string, maxlen);
}

int hid_get_serial_number_string(hid_device *, wchar_t *string, size_t maxlen)
{
    return fillstring(fakehid::SerialNumber, L"FP-0001", string, maxlen);
}

int hid_get_indexed_string(hid_device *, int index, wchar_t *string, size_t maxlen)
{
    if (index != 1)
        return -1;
    return fillstring(fakehid::IndexedString, L"Three Switches", string, maxlen);
}

int hid_set_nonblocking(hid_device *, int)
{
    return 0;
}

// Only the drain before the state request reads without waiting; it finds nothing.
int hid_read(hid_device *device, unsigned char *, size_t)
{
    const std::lock_guard<std::mutex> lock(pedal().mutex);
    return device->gone || (pedal().failures & fakehid::Drain) ? -1 : 0;
}

int hid_write(hid_device *, const unsigned char *data, size_t length)
{
    Pedal &p = pedal();
    std::unique_lock<std::mutex> lock(p.mutex);
    p.changed.wait_for(lock, std::chrono::seconds(5),
                       [&] { return !(p.failures & fakehid::Write); });
    p.counts.written.assign(reinterpret_cast<const char *>(data), length);
    return static_cast<int>(length);
}

// The pedal a failing open still finds, at a device node that cannot be used.
hid_device_info *hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    const std::lock_guard<std::mutex> lock(pedal().mutex);
    if (!pedal().present || vendor_id != vendorId || product_id != productId)
        return nullptr;
    auto *info = static_cast<hid_device_info *>(calloc(1, sizeof(hid_device_info)));
    info->path = strdup("/dev/hidraw-fake");
    info->vendor_id = vendorId;
    info->product_id = productId;
    return info;
}

void hid_free_enumeration(hid_device_info *devices)
{
    while (devices) {
        hid_device_info *next = devices->next;
        free(devices->path);
        free(devices);
        devices = next;
    }
}

int hid_read_timeout(hid_device *device, unsigned char *data, size_t length, int milliseconds)
{
    Pedal &p = pedal();
    std::unique_lock<std::mutex> lock(p.mutex);
    const auto ready = [&] { return device->gone || !p.reports.empty(); };
    if (milliseconds < 0)
        p.changed.wait(lock, ready);
    else if (!p.changed.wait_for(lock, std::chrono::milliseconds(milliseconds), ready))
        return 0;
    if (device->gone)
        return -1;
    const std::string report = p.reports.front();
    p.reports.pop_front();
    if (report.empty()) {
        device->gone = true;
        p.present = false;
        return -1;
    }
    const size_t count = std::min(length, report.size());
    memcpy(data, report.data(), count);
    return static_cast<int>(count);
}
