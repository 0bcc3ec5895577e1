// Real handsets through libusb-1.0: the device set of a handset class is the attached
// devices of its identity, an interface is the device opened with interface 0 claimed,
// and transfers are bulk transfers bounded by each pipe's timeout, each one submitted
// and waited for so that a cut-off can cancel it.
#pragma once

#include <libusb-1.0/libusb.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/time/clock.h"
#include "platform/usb/libusb/handset_identity.h"
#include "platform/usb/usb_host.h"

namespace platform::usb {

class LibusbHost final : public UsbHost {
 public:
  // Pipes start with this timeout: never unbounded, so a silent handset cannot hold
  // the device open (and the table lock) for ever.
  static constexpr uint32_t kDefaultPipeTimeoutMs = 5000;
  // Each string descriptor read waits this long on the station's clock (never less in
  // real time): a handset that does not answer its strings costs one such wait.
  static constexpr uint32_t kStringTimeoutMs = 100;

  // One library context for the process. Pipe timeouts are waited on `clock`.
  explicit LibusbHost(Clock& clock);
  ~LibusbHost() override;
  LibusbHost(const LibusbHost&) = delete;
  LibusbHost& operator=(const LibusbHost&) = delete;

  // False when libusb could not be started (no usbfs, no memory); every set is then empty.
  bool ok() const { return context_ != nullptr; }
  libusb_context* context() const { return context_; }

  struct AttachedHandset {
    const HandsetIdentity* identity = nullptr;
    UsbLocation location;
  };
  // Handsets of both identities attached now, ordered by bus, then port chain.
  std::vector<AttachedHandset> AttachedHandsets();
  static UsbLocation DeviceLocation(libusb_device* device);

  // Reads the names (product and manufacturer strings) of the attached handsets with
  // these reported paths, each handset on a thread of its own, and returns when all are
  // read or have timed out. Called before the device table is locked, so that its open
  // finds the names ready and never waits for a handset's strings.
  void ReadNamesAhead(const std::vector<std::string>& reportedPaths);

  // The device left the bus: its open interfaces fail every transfer from now on.
  void DeviceLeft(libusb_device* device);

  // Lines for the operator's log (the platform's own explanations, e.g. a handset that
  // cannot be opened for lack of permission). Each line carries its "\r\n".
  using NoticeSink = std::function<void(const std::string&)>;
  void SetNoticeSink(NoticeSink sink);
  void Notice(const std::string& line);

  // UsbHost.
  Handle GetClassDevs(const std::string& interfaceClass) override;
  bool EnumDeviceInfo(Handle set, uint32_t index) override;
  bool EnumDeviceInterface(Handle set, uint32_t index) override;
  std::optional<std::string> GetDeviceProperty(Handle set, uint32_t index,
                                               DeviceProperty property) override;
  bool GetInterfaceDetail(Handle set, uint32_t index, std::string* path,
                          uint32_t* requiredSize) override;
  void DestroyDeviceInfoList(Handle set) override;
  Handle OpenInterface(const std::string& path) override;
  void CloseInterface(Handle file) override;
  Handle Initialize(Handle file) override;
  void Free(Handle winusb) override;
  bool QueryInterfaceSettings(Handle winusb, uint8_t altSetting, uint8_t* numEndpoints) override;
  bool QueryPipe(Handle winusb, uint8_t altSetting, uint8_t index, PipeInfo* pipe) override;
  bool SetPipeTimeout(Handle winusb, uint8_t pipeId, uint32_t milliseconds) override;
  bool WritePipe(Handle winusb, uint8_t pipeId, const uint8_t* data, uint32_t length,
                 uint32_t* transferred) override;
  bool ReadPipe(Handle winusb, uint8_t pipeId, uint8_t* buffer, uint32_t length,
                uint32_t* transferred) override;
  uint32_t LastError() override;
  TransferError LastErrorReason() override;
  UsbAddress AddressOf(Handle winusb) override;
  std::string LocationOf(Handle winusb) override;
  void AbortPipes(Handle winusb) override;

 private:
  struct Element {
    std::shared_ptr<libusb_device> device;
    const HandsetIdentity* identity = nullptr;
    UsbLocation location;
    std::string path;  // as reported
  };
  struct Strings {
    std::optional<std::string> product;
    std::optional<std::string> manufacturer;
  };
  struct Open;  // an opened device, shared by its file and interface handles

  std::vector<Element> ListDevices(const HandsetIdentity* only);
  std::shared_ptr<Open> Find(const std::map<Handle, std::shared_ptr<Open>>& table, Handle h);
  const Element* SetElement(Handle set, uint32_t index);
  std::optional<Strings> ReadStrings(const Element& element);
  // The operator's notice for an open or claim refused for a reason they can act on
  // (no permission, another program holds the handset), once per handset and reason.
  void ReportOpenFailure(libusb_device* device, int libusbError);
  unsigned RealTimeoutMs(uint32_t milliseconds);
  bool Transfer(Handle winusb, uint8_t pipeId, uint8_t* data, uint32_t length,
                uint32_t* transferred, bool in);

  Clock& clock_;
  libusb_context* context_ = nullptr;
  std::mutex mutex_;
  Handle nextHandle_ = 0x100;
  std::map<Handle, std::vector<Element>> sets_;
  std::map<Handle, std::shared_ptr<Open>> files_;
  std::map<Handle, std::shared_ptr<Open>> interfaces_;
  std::map<std::string, Strings> strings_;  // by path and device address
  std::set<std::string> reading_;            // names being read now, by the same key
  std::set<std::string> reported_;  // reason, kernel name and address
  NoticeSink noticeSink_;
};

}  // namespace platform::usb
