// Device sets are snapshots of libusb's device list; an open device is shared by the
// file and interface handles so that a transfer in flight keeps it alive.
#include "platform/usb/libusb/libusb_host.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <system_error>
#include <thread>

#include "platform/text/ascii.h"
#include "platform/text/escaped_text.h"
#include "platform/text/utf16.h"
#include "platform/usb/libusb/libusb_errors.h"

namespace platform::usb {
namespace {

thread_local uint32_t t_lastError = kErrorSuccess;
thread_local TransferError t_lastReason = TransferError::kNone;

constexpr uint8_t kVendorSpecificClass = 0xFF;
constexpr int kStringBytes = 255;  // the longest descriptor bLength can announce
// A descriptor holds at most 126 UTF-16 units; the escaped name is kept to that.
constexpr size_t kMaxNameLength = 126;

struct ConfigFree {
  void operator()(libusb_config_descriptor* c) const { libusb_free_config_descriptor(c); }
};
using ConfigRef = std::unique_ptr<libusb_config_descriptor, ConfigFree>;

// The active configuration, else the first one (a device not yet configured).
ConfigRef ConfigOf(libusb_device* device) {
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_active_config_descriptor(device, &config) != 0 &&
      libusb_get_config_descriptor(device, 0, &config) != 0)
    return nullptr;
  return ConfigRef(config);
}

// Interface 0, alternate setting 0: the handset's download interface.
const libusb_interface_descriptor* DownloadInterface(const libusb_config_descriptor* config) {
  if (!config || config->bNumInterfaces == 0 || config->interface[0].num_altsetting == 0)
    return nullptr;
  return &config->interface[0].altsetting[0];
}

bool HasVendorBulkInterface(libusb_device* device) {
  ConfigRef config = ConfigOf(device);
  const libusb_interface_descriptor* iface = DownloadInterface(config.get());
  if (!iface || iface->bInterfaceClass != kVendorSpecificClass) return false;
  for (int i = 0; i < iface->bNumEndpoints; ++i)
    if ((iface->endpoint[i].bmAttributes & 3) == LIBUSB_TRANSFER_TYPE_BULK) return true;
  return false;
}

bool Fail(uint32_t error) {
  t_lastError = error;
  t_lastReason = TransferErrorOf(error);
  return false;
}

// A transfer's libusb error: its Win32 code, and beside it what the code cannot tell.
bool FailTransfer(int libusbError) {
  Fail(Win32ErrorFromLibusb(libusbError));
  t_lastReason = TransferErrorFromLibusb(libusbError);
  return false;
}

// One submitted transfer's end, as its callback reports it. The flag libusb reads is
// a plain int; the atomic beside it is what this code's own threads synchronise on, so
// the transfer is freed only after its callback, and nothing of libusb's, touched it.
struct Completion {
  int completed = 0;
  std::atomic<bool> done{false};

  static void LIBUSB_CALL OnDone(libusb_transfer* t) {
    auto* c = static_cast<Completion*>(t->user_data);
    c->completed = 1;
    c->done.store(true, std::memory_order_release);
  }

  // Handles events until the callback ran, or waits while another thread handles them
  // (the notifications' event thread): each completion wakes every waiter.
  void Wait(libusb_context* context, libusb_transfer* t) {
    while (!done.load(std::memory_order_acquire)) {
      const int r = libusb_handle_events_completed(context, &completed);
      // Events that cannot be waited for would leave the transfer's own timeout
      // unheeded: it is cancelled, and its cancellation is what is waited for then.
      if (r != 0 && r != LIBUSB_ERROR_INTERRUPTED) (void)libusb_cancel_transfer(t);
    }
  }
};

using TransferRef = std::unique_ptr<libusb_transfer, decltype(&libusb_free_transfer)>;

TransferRef NewTransfer() {
  return TransferRef(libusb_alloc_transfer(0), libusb_free_transfer);
}

// One string descriptor's UTF-16 units; nullopt when the handset did not give it.
// `silent` is set when it did not answer within the timeout.
std::optional<std::u16string> StringDescriptor(libusb_context* context,
                                               libusb_device_handle* handle, uint8_t index,
                                               uint16_t language, unsigned timeoutMs,
                                               bool& silent) {
  unsigned char setup[LIBUSB_CONTROL_SETUP_SIZE + kStringBytes] = {};
  libusb_fill_control_setup(setup, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                            static_cast<uint16_t>((LIBUSB_DT_STRING << 8) | index), language,
                            kStringBytes);
  TransferRef t = NewTransfer();
  if (!t) return std::nullopt;
  Completion done;
  libusb_fill_control_transfer(t.get(), handle, setup, &Completion::OnDone, &done, timeoutMs);
  if (libusb_submit_transfer(t.get()) != 0) return std::nullopt;
  done.Wait(context, t.get());
  const int error = LibusbErrorFromTransferStatus(t->status);
  if (error == LIBUSB_ERROR_TIMEOUT) silent = true;
  const int n = error == 0 ? t->actual_length : error;
  const unsigned char* d = libusb_control_transfer_get_data(t.get());
  if (n < 2 || d[1] != LIBUSB_DT_STRING) return std::nullopt;
  const int length = std::min<int>(n, d[0]);
  std::u16string units;
  for (int i = 2; i + 1 < length; i += 2)
    units.push_back(static_cast<char16_t>(d[i] | (d[i + 1] << 8)));
  return units;
}

// The handset's texts are untrusted: escaped before anything stores or shows them. The
// first answer that does not come in time ends the reading of this handset.
void ReadTexts(libusb_context* context, libusb_device_handle* handle,
               const libusb_device_descriptor& d, unsigned timeoutMs,
               std::optional<std::string>& product, std::optional<std::string>& manufacturer) {
  bool silent = false;
  const auto languages = StringDescriptor(context, handle, 0, 0, timeoutMs, silent);
  if (!languages || languages->empty()) return;
  const uint16_t language = (*languages)[0];
  auto text = [&](uint8_t index) -> std::optional<std::string> {
    if (index == 0 || silent) return std::nullopt;
    const auto units = StringDescriptor(context, handle, index, language, timeoutMs, silent);
    if (!units || units->empty()) return std::nullopt;
    return EscapedText(Utf16ToUtf8(*units), kMaxNameLength);
  };
  product = text(d.iProduct);
  manufacturer = text(d.iManufacturer);
}

}  // namespace

struct LibusbHost::Open {
  std::shared_ptr<libusb_device> device;
  libusb_device_handle* handle = nullptr;
  bool claimed = false;
  std::atomic<bool> gone{false};
  std::vector<PipeInfo> pipes;  // interface 0, alternate setting 0
  std::mutex timeoutMutex;
  std::map<uint8_t, uint32_t> timeouts;
  // A cut-off checks and cancels under this lock, a transfer checks and submits under
  // it: none is submitted after the cut-off has looked for transfers to cancel.
  std::mutex flightMutex;
  bool aborted = false;
  std::set<libusb_transfer*> inFlight;

  ~Open() {
    if (claimed && !gone) libusb_release_interface(handle, 0);
    if (handle) libusb_close(handle);
  }
};

LibusbHost::LibusbHost(Clock& clock) : clock_(clock) {
  if (libusb_init(&context_) != 0) context_ = nullptr;
}

LibusbHost::~LibusbHost() {
  {
    std::lock_guard lock(mutex_);
    sets_.clear();
    files_.clear();
    interfaces_.clear();
  }
  if (context_) libusb_exit(context_);
}

void LibusbHost::SetNoticeSink(NoticeSink sink) {
  std::lock_guard lock(mutex_);
  noticeSink_ = std::move(sink);
}

void LibusbHost::Notice(const std::string& line) {
  NoticeSink sink;
  {
    std::lock_guard lock(mutex_);
    sink = noticeSink_;
  }
  if (sink) sink(line);
}

UsbLocation LibusbHost::DeviceLocation(libusb_device* device) {
  UsbLocation location;
  location.bus = libusb_get_bus_number(device);
  uint8_t ports[8] = {};
  const int n = libusb_get_port_numbers(device, ports, sizeof ports);
  if (n > 0) location.ports.assign(ports, ports + n);
  return location;
}

std::vector<LibusbHost::Element> LibusbHost::ListDevices(const HandsetIdentity* only) {
  std::vector<Element> out;
  if (!context_) return out;
  libusb_device** list = nullptr;
  const ssize_t n = libusb_get_device_list(context_, &list);
  for (ssize_t i = 0; i < n; ++i) {
    libusb_device_descriptor d{};
    if (libusb_get_device_descriptor(list[i], &d) != 0) continue;
    const HandsetIdentity* identity = IdentityOfIds(d.idVendor, d.idProduct);
    if (!identity || (only && identity != only) || !HasVendorBulkInterface(list[i])) continue;
    Element e;
    e.device = std::shared_ptr<libusb_device>(libusb_ref_device(list[i]), libusb_unref_device);
    e.identity = identity;
    e.location = DeviceLocation(list[i]);
    e.path = ReportedPath(*identity, e.location);
    out.push_back(std::move(e));
  }
  if (n >= 0) libusb_free_device_list(list, 1);
  std::stable_sort(out.begin(), out.end(),
                   [](const Element& a, const Element& b) { return a.location < b.location; });
  return out;
}

std::vector<LibusbHost::AttachedHandset> LibusbHost::AttachedHandsets() {
  std::vector<AttachedHandset> out;
  for (const Element& e : ListDevices(nullptr)) out.push_back({e.identity, e.location});
  return out;
}

void LibusbHost::DeviceLeft(libusb_device* device) {
  std::lock_guard lock(mutex_);
  for (auto* table : {&files_, &interfaces_})
    for (auto& [handle, open] : *table)
      if (open->device.get() == device) open->gone = true;
}

Handle LibusbHost::GetClassDevs(const std::string& interfaceClass) {
  const HandsetIdentity* identity = IdentityOfClass(interfaceClass);
  // Any other class has no present interfaces: an empty set, as the platform gives.
  std::vector<Element> elements = identity ? ListDevices(identity) : std::vector<Element>{};
  std::lock_guard lock(mutex_);
  const Handle h = nextHandle_++;
  sets_[h] = std::move(elements);
  return h;
}

const LibusbHost::Element* LibusbHost::SetElement(Handle set, uint32_t index) {
  auto it = sets_.find(set);
  if (it == sets_.end() || index >= it->second.size()) return nullptr;
  return &it->second[index];
}

bool LibusbHost::EnumDeviceInfo(Handle set, uint32_t index) {
  std::lock_guard lock(mutex_);
  if (!sets_.count(set)) return Fail(kErrorInvalidHandle);
  return SetElement(set, index) ? true : Fail(kErrorNoMoreItems);
}

bool LibusbHost::EnumDeviceInterface(Handle set, uint32_t index) {
  std::lock_guard lock(mutex_);
  return SetElement(set, index) ? true : Fail(kErrorNoMoreItems);
}

void LibusbHost::ReportOpenFailure(libusb_device* device, int libusbError) {
  const std::string seat = KernelName(DeviceLocation(device));
  std::string line;
  if (libusbError == LIBUSB_ERROR_ACCESS)
    line = "[USB] The handset at " + seat +
           " cannot be opened: no permission. Install the udev rule "
           "packaging/udev/60-ostrevane.rules (lib/udev/rules.d), reload the rules and plug "
           "the handset again. The rule's uaccess tag gives the handset only to the person "
           "logged in at this PC's own seat; a service or an SSH user must be in the group "
           "plugdev.\r\n";
  else if (libusbError == LIBUSB_ERROR_BUSY)
    line = "[USB] The handset at " + seat +
           " is held by another program (a modem manager, or a second station): close it, "
           "or unplug the handset and plug it in again.\r\n";
  else
    return;
  {
    std::lock_guard lock(mutex_);
    const std::string key = std::to_string(libusbError) + " " + seat + "@" +
                            std::to_string(libusb_get_device_address(device));
    if (!reported_.insert(key).second) return;  // once per handset
  }
  Notice(line);
}

std::optional<LibusbHost::Strings> LibusbHost::ReadStrings(const Element& element) {
  const std::string key =
      element.path + "@" + std::to_string(libusb_get_device_address(element.device.get()));
  {
    std::lock_guard lock(mutex_);
    auto it = strings_.find(key);
    if (it != strings_.end()) return it->second;
    // Being read elsewhere: the caller (an open walking past this handset under the
    // table's lock) does not wait for it.
    if (!reading_.insert(key).second) return std::nullopt;
  }
  struct Done {
    LibusbHost& host;
    const std::string& key;
    ~Done() {
      std::lock_guard lock(host.mutex_);
      host.reading_.erase(key);
    }
  } done{*this, key};
  libusb_device_descriptor d{};
  if (libusb_get_device_descriptor(element.device.get(), &d) != 0) return std::nullopt;
  libusb_device_handle* handle = nullptr;
  const int r = libusb_open(element.device.get(), &handle);
  if (r != 0) {
    ReportOpenFailure(element.device.get(), r);
    return std::nullopt;
  }
  // A fast test clock does not make the wait shorter than a handset needs to answer.
  const unsigned timeout = std::max(RealTimeoutMs(kStringTimeoutMs), unsigned{kStringTimeoutMs});
  Strings s;
  ReadTexts(context_, handle, d, timeout, s.product, s.manufacturer);
  libusb_close(handle);
  // A handset that did not answer is remembered too: the open does not ask it again.
  std::lock_guard lock(mutex_);
  strings_[key] = s;
  return s;
}

void LibusbHost::ReadNamesAhead(const std::vector<std::string>& reportedPaths) {
  std::vector<Element> wanted;
  for (Element& e : ListDevices(nullptr))
    if (std::find(reportedPaths.begin(), reportedPaths.end(), e.path) != reportedPaths.end())
      wanted.push_back(std::move(e));
  std::vector<std::thread> readers;
  for (const Element& e : wanted) {
    if (&e == &wanted.back()) {
      (void)ReadStrings(e);  // the last one on this thread
      break;
    }
    try {
      readers.emplace_back([this, &e] { (void)ReadStrings(e); });
    } catch (const std::system_error&) {
      (void)ReadStrings(e);  // no thread to spare: read in turn
    }
  }
  for (std::thread& t : readers) t.join();
}

std::optional<std::string> LibusbHost::GetDeviceProperty(Handle set, uint32_t index,
                                                         DeviceProperty property) {
  Element element;
  {
    std::lock_guard lock(mutex_);
    const Element* e = SetElement(set, index);
    if (!e) {
      Fail(kErrorNoMoreItems);
      return std::nullopt;
    }
    element = *e;
  }
  auto strings = ReadStrings(element);
  std::optional<std::string> value;
  if (strings && property == DeviceProperty::kFriendlyName) value = strings->product;
  if (strings && property == DeviceProperty::kDeviceDescription && strings->manufacturer)
    value = *strings->manufacturer + " USB Device";
  if (!value) Fail(kErrorInvalidData);  // the property is not set
  return value;
}

bool LibusbHost::GetInterfaceDetail(Handle set, uint32_t index, std::string* path,
                                    uint32_t* requiredSize) {
  std::lock_guard lock(mutex_);
  const Element* e = SetElement(set, index);
  if (!e) return Fail(kErrorNoMoreItems);
  if (!path) {
    // A cbSize field followed by the UTF-16 path and its terminator.
    if (requiredSize) *requiredSize = static_cast<uint32_t>(4 + 2 * (e->path.size() + 1));
    return Fail(kErrorInsufficientBuffer);
  }
  *path = e->path;
  return true;
}

void LibusbHost::DestroyDeviceInfoList(Handle set) {
  std::lock_guard lock(mutex_);
  sets_.erase(set);
}

Handle LibusbHost::OpenInterface(const std::string& path) {
  const std::string wanted = LowerAscii(path);
  for (const Element& e : ListDevices(nullptr)) {
    if (e.path != wanted) continue;
    auto open = std::make_shared<Open>();
    open->device = e.device;
    const int r = libusb_open(e.device.get(), &open->handle);
    if (r != 0) {
      open->handle = nullptr;
      ReportOpenFailure(e.device.get(), r);
      Fail(Win32ErrorFromLibusb(r));
      return kInvalidHandle;
    }
    std::lock_guard lock(mutex_);
    const Handle h = nextHandle_++;
    files_[h] = std::move(open);
    return h;
  }
  Fail(kErrorFileNotFound);
  return kInvalidHandle;
}

std::shared_ptr<LibusbHost::Open> LibusbHost::Find(
    const std::map<Handle, std::shared_ptr<Open>>& table, Handle h) {
  std::lock_guard lock(mutex_);
  auto it = table.find(h);
  return it == table.end() ? nullptr : it->second;
}

void LibusbHost::CloseInterface(Handle file) {
  std::shared_ptr<Open> last;  // closed outside the lock
  std::lock_guard lock(mutex_);
  auto it = files_.find(file);
  if (it == files_.end()) return;
  last = std::move(it->second);
  files_.erase(it);
}

Handle LibusbHost::Initialize(Handle file) {
  std::shared_ptr<Open> open = Find(files_, file);
  if (!open) {
    Fail(kErrorInvalidHandle);
    return kInvalidHandle;
  }
  // A kernel driver bound to the interface is detached for the claim and re-attached
  // when the interface is released.
  libusb_set_auto_detach_kernel_driver(open->handle, 1);
  const int r = libusb_claim_interface(open->handle, 0);
  if (r != 0) {
    ReportOpenFailure(open->device.get(), r);
    Fail(Win32ErrorFromLibusb(r));
    return kInvalidHandle;
  }
  open->claimed = true;
  ConfigRef config = ConfigOf(libusb_get_device(open->handle));
  if (const libusb_interface_descriptor* iface = DownloadInterface(config.get())) {
    for (int i = 0; i < iface->bNumEndpoints; ++i) {
      const libusb_endpoint_descriptor& ep = iface->endpoint[i];
      open->pipes.push_back({static_cast<uint8_t>(ep.bmAttributes & 3), ep.bEndpointAddress});
      open->timeouts[ep.bEndpointAddress] = kDefaultPipeTimeoutMs;
    }
  }
  std::lock_guard lock(mutex_);
  const Handle h = nextHandle_++;
  interfaces_[h] = std::move(open);
  return h;
}

void LibusbHost::Free(Handle winusb) {
  std::shared_ptr<Open> last;
  std::lock_guard lock(mutex_);
  auto it = interfaces_.find(winusb);
  if (it == interfaces_.end()) return;
  last = std::move(it->second);
  interfaces_.erase(it);
}

bool LibusbHost::QueryInterfaceSettings(Handle winusb, uint8_t altSetting, uint8_t* numEndpoints) {
  std::shared_ptr<Open> open = Find(interfaces_, winusb);
  if (!open) return Fail(kErrorInvalidHandle);
  if (altSetting != 0) return Fail(kErrorNoMoreItems);
  *numEndpoints = static_cast<uint8_t>(open->pipes.size());
  return true;
}

bool LibusbHost::QueryPipe(Handle winusb, uint8_t altSetting, uint8_t index, PipeInfo* pipe) {
  std::shared_ptr<Open> open = Find(interfaces_, winusb);
  if (!open) return Fail(kErrorInvalidHandle);
  if (altSetting != 0 || index >= open->pipes.size()) return Fail(kErrorNoMoreItems);
  *pipe = open->pipes[index];
  return true;
}

bool LibusbHost::SetPipeTimeout(Handle winusb, uint8_t pipeId, uint32_t milliseconds) {
  std::shared_ptr<Open> open = Find(interfaces_, winusb);
  if (!open) return Fail(kErrorInvalidHandle);
  std::lock_guard lock(open->timeoutMutex);
  auto t = open->timeouts.find(pipeId);
  if (t == open->timeouts.end()) return Fail(kErrorInvalidParameter);
  t->second = milliseconds;
  return true;
}

unsigned LibusbHost::RealTimeoutMs(uint32_t milliseconds) {
  if (milliseconds == 0) return 0;  // no timeout, as the platform's pipe policy means it
  const auto real = std::chrono::ceil<std::chrono::milliseconds>(clock_.RealDuration(milliseconds));
  return static_cast<unsigned>(std::max<int64_t>(1, real.count()));
}

bool LibusbHost::WritePipe(Handle winusb, uint8_t pipeId, const uint8_t* data, uint32_t length,
                           uint32_t* transferred) {
  // libusb does not write through an OUT transfer's buffer.
  return Transfer(winusb, pipeId, const_cast<uint8_t*>(data), length, transferred, false);
}

bool LibusbHost::ReadPipe(Handle winusb, uint8_t pipeId, uint8_t* buffer, uint32_t length,
                          uint32_t* transferred) {
  return Transfer(winusb, pipeId, buffer, length, transferred, true);
}

bool LibusbHost::Transfer(Handle winusb, uint8_t pipeId, uint8_t* data, uint32_t length,
                          uint32_t* transferred, bool in) {
  if (transferred) *transferred = 0;
  std::shared_ptr<Open> open = Find(interfaces_, winusb);
  if (!open) return Fail(kErrorInvalidHandle);
  uint32_t timeoutMs = 0;
  {
    std::lock_guard lock(open->timeoutMutex);
    auto t = open->timeouts.find(pipeId);
    if (t == open->timeouts.end() || ((pipeId & 0x80) != 0) != in)
      return Fail(kErrorInvalidParameter);
    timeoutMs = t->second;
  }
  if (open->gone) return Fail(kErrorDeviceNotConnected);
  const unsigned timeout = RealTimeoutMs(timeoutMs);
  // One transfer in either direction: libusb completes a long write only when all of it
  // went or the transfer failed, and a zero-length write goes as a zero-length packet.
  TransferRef t = NewTransfer();
  if (!t) return Fail(kErrorNotEnoughMemory);
  Completion done;
  libusb_fill_bulk_transfer(t.get(), open->handle, pipeId, data, static_cast<int>(length),
                            &Completion::OnDone, &done, timeout);
  {
    std::lock_guard lock(open->flightMutex);
    if (open->aborted) return Fail(kErrorOperationAborted);
    const int r = libusb_submit_transfer(t.get());
    if (r != 0) return open->gone ? Fail(kErrorDeviceNotConnected) : FailTransfer(r);
    open->inFlight.insert(t.get());
  }
  done.Wait(context_, t.get());
  bool cutOff = false;
  {
    std::lock_guard lock(open->flightMutex);
    open->inFlight.erase(t.get());
    cutOff = open->aborted;
  }
  if (transferred) *transferred = static_cast<uint32_t>(std::max(t->actual_length, 0));
  // A removal that raced the transfer still fails it.
  if (open->gone) return Fail(kErrorDeviceNotConnected);
  if (t->status == LIBUSB_TRANSFER_CANCELLED && cutOff) return Fail(kErrorOperationAborted);
  if (const int r = LibusbErrorFromTransferStatus(t->status)) return FailTransfer(r);
  return true;
}

void LibusbHost::AbortPipes(Handle winusb) {
  std::shared_ptr<Open> open = Find(interfaces_, winusb);
  if (!open) return;
  std::lock_guard lock(open->flightMutex);
  open->aborted = true;
  // A transfer that completed meanwhile is no longer in flight: libusb says so and
  // leaves it alone. Its owner frees it only after taking this lock.
  for (libusb_transfer* t : open->inFlight) (void)libusb_cancel_transfer(t);
}

UsbAddress LibusbHost::AddressOf(Handle winusb) {
  std::shared_ptr<Open> open = Find(interfaces_, winusb);
  if (!open) return {};
  return {libusb_get_bus_number(open->device.get()), libusb_get_device_address(open->device.get())};
}

std::string LibusbHost::LocationOf(Handle winusb) {
  std::shared_ptr<Open> open = Find(interfaces_, winusb);
  return open ? KernelName(DeviceLocation(open->device.get())) : std::string();
}

uint32_t LibusbHost::LastError() {
  return t_lastError;
}

TransferError LibusbHost::LastErrorReason() {
  return t_lastReason;
}

}  // namespace platform::usb
