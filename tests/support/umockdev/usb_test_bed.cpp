// Every bulk URB of a handset goes to a worker of its own that runs the virtual
// handset's side of the transfer; the umockdev thread only queues and reaps, so one
// slow handset never holds up the others.
#include "support/umockdev/usb_test_bed.h"

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <sys/stat.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <thread>

namespace testsupport {
namespace {

using platform::usb::TransferStatus;

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  char b[3];
  for (uint8_t v : bytes) {
    std::snprintf(b, sizeof b, "%02x", v);
    out += b;
  }
  return out;
}

void Put16(std::vector<uint8_t>& d, uint16_t v) {
  d.push_back(static_cast<uint8_t>(v));
  d.push_back(static_cast<uint8_t>(v >> 8));
}

// Device descriptor, then one configuration with interface 0 and its endpoints.
std::vector<uint8_t> Descriptors(uint16_t vid, uint16_t pid, uint8_t deviceClass,
                                 uint8_t interfaceClass,
                                 const std::vector<platform::usb::EndpointDescriptor>& eps) {
  std::vector<uint8_t> d = {18, 1, 0x00, 0x02, deviceClass, 0, 0, 64};
  Put16(d, vid);
  Put16(d, pid);
  Put16(d, 0x0100);
  d.insert(d.end(), {1, 2, 0, 1});
  const uint16_t total = static_cast<uint16_t>(9 + 9 + 7 * eps.size());
  d.insert(d.end(), {9, 2});
  Put16(d, total);
  d.insert(d.end(), {1, 1, 0, 0x80, 250});
  d.insert(d.end(), {9, 4, 0, 0, static_cast<uint8_t>(eps.size()), interfaceClass, 0, 0, 0});
  for (const auto& ep : eps) {
    d.insert(d.end(), {7, 5, ep.address, ep.type});
    Put16(d, ep.type == 2 ? 512 : 4);
    d.push_back(ep.type == 2 ? 0 : 12);
  }
  return d;
}

std::string Text(const char* format, unsigned a, unsigned b) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, a, b);
  return buf;
}

std::string SysName(uint8_t bus, const std::vector<uint8_t>& ports) {
  std::string name = std::to_string(bus);
  name += '-';
  for (size_t i = 0; i < ports.size(); ++i) {
    if (i) name += '.';
    name += std::to_string(ports[i]);
  }
  return name;
}

// The sysfs path of a device: the root hub, then each hub of the chain.
std::string SysPath(uint8_t bus, const std::vector<uint8_t>& ports) {
  std::string path = "/devices/usb" + std::to_string(bus);
  for (size_t n = 1; n <= ports.size(); ++n)
    path.append(1, '/').append(
        SysName(bus, std::vector<uint8_t>(ports.begin(), ports.begin() + n)));
  return path;
}

std::string DeviceRecord(const std::string& sysPath, uint8_t bus, int devnum,
                         const std::vector<uint8_t>& descriptors) {
  const std::string node = Text("bus/usb/%03u/%03u", bus, static_cast<unsigned>(devnum));
  return "P: " + sysPath + "\nN: " + node +
         "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: BUSNUM=" +
         Text("%03u", bus, 0) + "\nE: DEVNUM=" + Text("%03u", static_cast<unsigned>(devnum), 0) +
         "\nE: DEVNAME=/dev/" + node + "\nA: busnum=" + std::to_string(bus) +
         "\\n\nA: devnum=" + std::to_string(devnum) +
         "\\n\nA: bConfigurationValue=1\\n\nA: speed=480\\n\nH: descriptors=" + Hex(descriptors) +
         "\n";
}

}  // namespace

struct UsbTestBed::Bed {
  UMockdevTestbed* testbed = nullptr;
  ~Bed() {
    if (testbed) g_object_unref(testbed);
  }
};

struct UsbTestBed::Device {
  struct Urb {
    // The open file it was submitted on: only that file reaps or discards it, as usbfs
    // keeps each file's URBs apart. Referenced, so a closed file's address is not
    // taken by a new one while its URBs are still held here.
    UMockdevIoctlClient* file = nullptr;
    UMockdevIoctlData* data = nullptr;    // the client's usbdevfs_urb
    UMockdevIoctlData* buffer = nullptr;  // its transfer buffer
    bool discarded = false;
    usbdevfs_urb* urb() const { return reinterpret_cast<usbdevfs_urb*>(data->data); }
    ~Urb() {
      if (buffer) umockdev_ioctl_data_unref(buffer);
      if (data) umockdev_ioctl_data_unref(data);
      if (file) g_object_unref(file);
    }
  };

  UsbTestBed* owner = nullptr;
  MockHandset handset;
  std::string sysPath;
  std::string devNode;
  UMockdevIoctlBase* handler = nullptr;
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::shared_ptr<Urb>> queued;
  std::shared_ptr<Urb> current;
  std::deque<std::shared_ptr<Urb>> completed;
  std::deque<std::shared_ptr<Urb>> unanswered;  // string requests of a silent handset
  std::vector<uint8_t> stalled;
  bool gone = false;
  bool stopping = false;
  bool removed = false;
  std::thread worker;

  void Finish(const std::shared_ptr<Urb>& u, int status, int actual) {
    u->urb()->status = status;
    u->urb()->actual_length = actual;
    completed.push_back(u);
  }

  // Answers a string descriptor request; anything else on endpoint 0 stalls.
  void Control(const std::shared_ptr<Urb>& u) {
    uint8_t* setup = u->buffer ? static_cast<uint8_t*>(u->buffer->data) : nullptr;
    const int room = u->urb()->buffer_length - 8;
    if (!setup || room < 0 || setup[1] != 6 || setup[3] != 3) return Finish(u, -EPIPE, 0);
    if (handset.silentStrings) return unanswered.push_back(u);
    std::vector<uint8_t> d;
    if (setup[2] == 0) {
      d = {4, 3, 0x09, 0x04};
    } else {
      const std::optional<std::string>& s =
          setup[2] == 2 ? handset.product : (setup[2] == 1 ? handset.manufacturer : std::nullopt);
      if (!s) return Finish(u, -EPIPE, 0);
      d = {static_cast<uint8_t>(2 + 2 * s->size()), 3};
      for (char c : *s) d.insert(d.end(), {static_cast<uint8_t>(c), 0});
    }
    const int n = std::min<int>(room, static_cast<int>(d.size()));
    std::memcpy(setup + 8, d.data(), static_cast<size_t>(n));
    Finish(u, 0, n);
  }

  void Work() {
    std::unique_lock lock(mutex);
    for (;;) {
      wake.wait(lock, [&] { return stopping || !queued.empty(); });
      if (stopping) return;
      std::shared_ptr<Urb> u = queued.front();
      queued.pop_front();
      current = u;
      const uint8_t ep = u->urb()->endpoint;
      const uint32_t length = static_cast<uint32_t>(u->urb()->buffer_length);
      uint8_t* data = u->buffer ? static_cast<uint8_t*>(u->buffer->data) : nullptr;
      const bool stall = std::find(stalled.begin(), stalled.end(), ep) != stalled.end();
      lock.unlock();
      TransferStatus status = TransferStatus::kStall;
      uint32_t actual = 0;
      if (!stall && (ep & 0x80)) {
        // Waits in short slices so that a discard (libusb's timeout) or an unplug ends it.
        for (;;) {
          status = handset.peer->BulkIn(
              ep, data, length, std::chrono::steady_clock::now() + std::chrono::milliseconds(5),
              &actual);
          if (status != TransferStatus::kTimeout) break;
          std::lock_guard check(mutex);
          if (u->discarded || gone) break;
        }
      } else if (!stall) {
        static uint8_t empty = 0;
        status = handset.peer->BulkOut(ep, data ? data : &empty, length);
        if (status == TransferStatus::kOk) actual = length;
      }
      const bool leaves = handset.peer->WantsDetach();
      lock.lock();
      current.reset();
      int result = 0;
      switch (status) {
        case TransferStatus::kOk:
          break;
        case TransferStatus::kTimeout:
          result = gone ? -ENODEV : -ENOENT;  // discarded
          break;
        case TransferStatus::kDisconnected:
          result = -ENODEV;
          break;
        case TransferStatus::kStall:
          result = -EPIPE;
          break;
        case TransferStatus::kOverflow:
          result = -EOVERFLOW;
          break;
        case TransferStatus::kIoError:
          result = -EPROTO;
          break;
      }
      if (u->discarded && result == 0) result = -ENOENT, actual = 0;
      Finish(u, result, static_cast<int>(actual));
      if (leaves && !gone) {
        // The handset restarts after its reset: it leaves the bus like a pulled cable.
        lock.unlock();
        owner->Unplug(handset.peer.get());
        lock.lock();
      }
    }
  }

  static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    return static_cast<Device*>(self)->Ioctl(client);
  }

  gboolean Ioctl(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard lock(mutex);
    switch (request) {
      case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), nullptr);
        // One URB per transfer whatever its length.
        *reinterpret_cast<uint32_t*>(d->data) =
            USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
            USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
        umockdev_ioctl_data_unref(d);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      }
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY: {
        // A URB reaped through another open file of the same handset (the name reader's
        // handle beside the station's) broke the process's heap now and then: usbfs
        // never does that, so libusb is not made for it.
        auto mine = std::find_if(completed.begin(), completed.end(),
                                 [&](const std::shared_ptr<Urb>& u) { return u->file == client; });
        if (mine == completed.end()) {
          umockdev_ioctl_client_complete(client, -1, gone ? ENODEV : EAGAIN);
          return TRUE;
        }
        std::shared_ptr<Urb> u = *mine;
        completed.erase(mine);
        UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
        umockdev_ioctl_data_set_ptr(slot, 0, u->data);
        umockdev_ioctl_client_complete(client, 0, 0);
        umockdev_ioctl_data_unref(slot);
        return TRUE;
      }
      case USBDEVFS_DISCARDURB: {
        void* address = *reinterpret_cast<void**>(arg->data);
        auto match = [&](const std::shared_ptr<Urb>& u) {
          return u && u->file == client && u->data->client_addr == reinterpret_cast<gulong>(address);
        };
        for (auto it = queued.begin(); it != queued.end(); ++it) {
          if (!match(*it)) continue;
          (*it)->discarded = true;
          Finish(*it, -ENOENT, 0);
          queued.erase(it);
          umockdev_ioctl_client_complete(client, 0, 0);
          return TRUE;
        }
        for (auto it = unanswered.begin(); it != unanswered.end(); ++it) {
          if (!match(*it)) continue;
          Finish(*it, -ENOENT, 0);
          unanswered.erase(it);
          umockdev_ioctl_client_complete(client, 0, 0);
          return TRUE;
        }
        if (match(current)) {
          current->discarded = true;
          umockdev_ioctl_client_complete(client, 0, 0);
        } else {
          umockdev_ioctl_client_complete(client, -1, EINVAL);
        }
        return TRUE;
      }
      default:
        break;
    }
    if (gone) {
      umockdev_ioctl_client_complete(client, -1, ENODEV);
      return TRUE;
    }
    switch (request) {
      case USBDEVFS_CLAIMINTERFACE:
      case USBDEVFS_DISCONNECT_CLAIM:
        umockdev_ioctl_client_complete(client, handset.claimErrno ? -1 : 0, handset.claimErrno);
        return TRUE;
      case USBDEVFS_RELEASEINTERFACE:
      case USBDEVFS_IOCTL:  // the kernel driver's re-attach
      case USBDEVFS_CLEAR_HALT:
      case USBDEVFS_RESET:
      case USBDEVFS_RESETEP:
      case USBDEVFS_SETINTERFACE:
      case USBDEVFS_SETCONFIGURATION:
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      case USBDEVFS_SUBMITURB: {
        auto u = std::make_shared<Urb>();
        u->file = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
        u->data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        if (u->urb()->buffer_length > 0)
          u->buffer =
              umockdev_ioctl_data_resolve(u->data, offsetof(usbdevfs_urb, buffer),
                                          static_cast<gsize>(u->urb()->buffer_length), nullptr);
        if (u->urb()->type == USBDEVFS_URB_TYPE_CONTROL) {
          Control(u);
        } else if (u->urb()->type == USBDEVFS_URB_TYPE_BULK) {
          queued.push_back(u);
          wake.notify_all();
        } else {
          umockdev_ioctl_client_complete(client, -1, EINVAL);
          return TRUE;
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      }
      default:
        return FALSE;
    }
  }
};

UsbTestBed::UsbTestBed() : bed_(std::make_unique<Bed>()) {
  bed_->testbed = umockdev_testbed_new();
  for (uint8_t bus : {1, 2}) {
    nextDevnum_[bus] = 2;
    umockdev_testbed_add_from_string(bed_->testbed,
                                     DeviceRecord("/devices/usb" + std::to_string(bus), bus, 1,
                                                  Descriptors(0x1d6b, 0x0002, 9, 9, {{3, 0x81}}))
                                         .c_str(),
                                     nullptr);
  }
}

UsbTestBed::~UsbTestBed() {
  std::vector<std::unique_ptr<Device>> devices;
  {
    std::lock_guard lock(mutex_);
    devices.swap(devices_);
  }
  for (auto& d : devices) {
    {
      std::lock_guard lock(d->mutex);
      d->stopping = true;
      d->gone = true;
      d->wake.notify_all();
    }
    d->handset.peer->Detached();
    if (d->worker.joinable()) d->worker.join();
    if (!d->handset.restricted)
      umockdev_testbed_detach_ioctl(bed_->testbed, d->devNode.c_str(), nullptr);
    g_object_unref(d->handler);
  }
}

bool UsbTestBed::Mocked() {
  return umockdev_in_mock_environment();
}

void UsbTestBed::EnsureHub(uint8_t bus, const std::vector<uint8_t>& ports) {
  const std::string path = SysPath(bus, ports);
  if (ports.empty() || std::find(hubs_.begin(), hubs_.end(), path) != hubs_.end()) return;
  EnsureHub(bus, std::vector<uint8_t>(ports.begin(), ports.end() - 1));
  hubs_.push_back(path);
  umockdev_testbed_add_from_string(
      bed_->testbed,
      DeviceRecord(path, bus, nextDevnum_[bus]++, Descriptors(0x05e3, 0x0608, 9, 9, {{3, 0x81}}))
          .c_str(),
      nullptr);
}

void UsbTestBed::Plug(MockHandset handset) {
  std::lock_guard lock(mutex_);
  const auto& loc = handset.location;
  EnsureHub(loc.bus, std::vector<uint8_t>(loc.ports.begin(), loc.ports.end() - 1));
  auto d = std::make_unique<Device>();
  d->owner = this;
  const int devnum = nextDevnum_[loc.bus]++;
  d->sysPath = SysPath(loc.bus, loc.ports);
  d->devNode = Text("/dev/bus/usb/%03u/%03u", loc.bus, static_cast<unsigned>(devnum));
  const auto& id = platform::usb::HandsetIdentities()[handset.kind == 1 ? 1 : 0];
  const auto endpoints = handset.peer->Identity().endpoints;
  d->handset = std::move(handset);
  d->handset.peer->Attached();
  d->handler = umockdev_ioctl_base_new();
  g_signal_connect(d->handler, "handle-ioctl", G_CALLBACK(&Device::OnIoctl), d.get());
  d->worker = std::thread([dev = d.get()] { dev->Work(); });
  const bool restricted = d->handset.restricted;
  // The ioctls are served before the "add" uevent can make anyone open the node.
  if (!restricted)
    umockdev_testbed_attach_ioctl(bed_->testbed, d->devNode.c_str(), d->handler, nullptr);
  umockdev_testbed_add_from_string(
      bed_->testbed,
      DeviceRecord(d->sysPath, loc.bus, devnum,
                   Descriptors(id.vendorId, id.productId, 0, 0xFF, endpoints))
          .c_str(),
      nullptr);
  if (restricted) {
    // Others may walk the bed (sysfs stays readable); the node is its owner's alone.
    char* root = umockdev_testbed_get_root_dir(bed_->testbed);
    ::chmod(root, 0755);
    ::chmod((std::string(root) + "/ioctl").c_str(), 0755);
    ::chmod((std::string(root) + "/ioctl/_default").c_str(), 0777);
    // Root passes any mode bits: the test then drops its file-system identity to
    // open; anyone else is refused by the bits themselves.
    ::chmod((std::string(root) + d->devNode).c_str(), ::geteuid() == 0 ? 0600 : 0000);
    g_free(root);
  }
  devices_.push_back(std::move(d));
}

UsbTestBed::Device* UsbTestBed::Find(const platform::usb::VirtualUsbPeer* peer) {
  for (auto& d : devices_)
    if (d->handset.peer.get() == peer && !d->removed) return d.get();
  return nullptr;
}

void UsbTestBed::UnplugDevice(Device& d) {
  {
    std::lock_guard lock(d.mutex);
    d.gone = true;
    d.removed = true;
    for (auto* pending : {&d.queued, &d.unanswered}) {
      for (auto& u : *pending) d.Finish(u, -ENODEV, 0);
      pending->clear();
    }
  }
  d.handset.peer->Detached();
  umockdev_testbed_uevent(bed_->testbed, ("/sys" + d.sysPath).c_str(), "remove");
  umockdev_testbed_remove_device(bed_->testbed, ("/sys" + d.sysPath).c_str());
}

void UsbTestBed::Unplug(const platform::usb::VirtualUsbPeer* peer) {
  std::lock_guard lock(mutex_);
  if (Device* d = Find(peer)) UnplugDevice(*d);
}

bool UsbTestBed::InFlight(const platform::usb::VirtualUsbPeer* peer) {
  std::lock_guard lock(mutex_);
  Device* d = Find(peer);
  if (!d) return false;
  std::lock_guard dl(d->mutex);
  return d->current != nullptr;
}

bool UsbTestBed::StringsPending(const platform::usb::VirtualUsbPeer* peer) {
  std::lock_guard lock(mutex_);
  Device* d = Find(peer);
  if (!d) return false;
  std::lock_guard dl(d->mutex);
  return !d->unanswered.empty();
}

void UsbTestBed::Stall(const platform::usb::VirtualUsbPeer* peer, uint8_t endpoint) {
  std::lock_guard lock(mutex_);
  if (Device* d = Find(peer)) {
    std::lock_guard dl(d->mutex);
    d->stalled.push_back(endpoint);
  }
}

}  // namespace testsupport
