// The open procedure: loaded flag down, file dialog, pairing check, confirmation,
// acceptance, remembered path, log. The image lock is held only around reads and
// writes of the image state, never while a box or a dialog waits for the operator.
#include "console/image_open.h"

#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>

#include "console/remembered_paths.h"
#include "console/settings.h"
#include "image/image_layout_check.h"
#include "image/image_loader.h"
#include "image/smd_reader.h"
#include "platform/file/file.h"
#include "platform/text/utf16.h"

namespace console {

namespace {

using image::ImageKind;
using platform::registry::Root;

std::string& PathOf(image::ImageState& state, ImageKind kind) {
  return kind == ImageKind::Os ? state.OsImagePath : state.CscImagePath;
}

int& LoadedFlagOf(image::ImageState& state, ImageKind kind) {
  return kind == ImageKind::Os ? state.OsImageLoaded : state.CscImageLoaded;
}

// Whether the path's last three UTF-16 units are exactly `ending`.
bool EndsWith(const std::string& path, const std::u16string& ending) {
  const std::u16string units = platform::Utf8ToUtf16(path);
  return units.size() >= ending.size() &&
         units.compare(units.size() - ending.size(), ending.size(), ending) == 0;
}

bool ReadableFile(const std::string& path) {
  std::error_code error;
  if (path.empty() || !std::filesystem::is_regular_file(platform::file::NativePath(path), error))
    return false;
  return platform::file::Open(path, "rb") != nullptr;
}

}  // namespace

ImageOpener::ImageOpener(COstrevaneDlg& dlg, platform::registry::Registry& registry,
                         platform::Clock& clock)
    : m_dlg(dlg), m_registry(registry), m_clock(clock) {}

bool ImageOpener::OpenImage(ImageKind kind, bool browse) {
  const Outcome outcome = Open(kind, browse);
  if (outcome != Outcome::kRefused) return outcome == Outcome::kLoaded;
  std::lock_guard lock(m_dlg.ImageMutex);
  return LoadedFlagOf(m_dlg.Image, kind) == 1;
}

ImageOpener::Outcome ImageOpener::Open(ImageKind kind, bool browse) {
  if (m_opening.exchange(true)) {
    m_dlg.MessageBox(TEXT_OPEN_DURING_OPEN, "");
    return Outcome::kRefused;
  }
  struct Release {
    std::atomic<bool>& flag;
    ~Release() { flag = false; }
  } release{m_opening};
  // The workers of a run read the loaded header, the paths and the sales codes as
  // they are; an open meanwhile would change them under their feet. Claimed first and
  // asked second, as a run does the other way round, so one of the two always sees
  // the other.
  if (m_dlg.RunInProgress) {
    m_dlg.MessageBox(TEXT_OPEN_DURING_RUN, "");
    return Outcome::kRefused;
  }

  const bool os = kind == ImageKind::Os;
  bool osPathEmpty = true;
  {
    std::lock_guard lock(m_dlg.ImageMutex);
    LoadedFlagOf(m_dlg.Image, kind) = 0;
  }

  bool cancelled = false;
  if (browse) {
    ui::FileDialogRequest request;
    request.filter = os ? FILTER_OS : FILTER_CSC;
    // assign(count, char): GCC 12 at -O3 reports a false -Wrestrict for `= "*"` here.
    request.defaultExtension.assign(1, '*');
    request.fileMustExist = true;
    {
      std::lock_guard lock(RememberedPathMutex);
      request.startFolder = StartFolderOf(os ? RememberedOsPath : RememberedCscPath);
    }
    const std::optional<std::string> chosen = m_dlg.GetWindow().OpenFileDialog(request);
    if (chosen) {
      std::lock_guard lock(m_dlg.ImageMutex);
      PathOf(m_dlg.Image, kind) = *chosen;
    } else {
      cancelled = true;
    }
  }

  {
    std::lock_guard lock(m_dlg.ImageMutex);
    osPathEmpty = m_dlg.Image.OsImagePath.empty();
  }
  // Also after a cancelled dialog: the CSC path held from before is checked.
  bool paired = true;
  if (!os && !osPathEmpty && !PairingHolds()) {
    {
      std::lock_guard lock(m_dlg.ImageMutex);
      m_dlg.Image.CscImagePath.clear();
    }
    m_dlg.AppendLog("Factory signature does not match !!\r\n");
    paired = false;
  }

  if (!cancelled && paired) {
    std::string path;
    {
      std::lock_guard lock(m_dlg.ImageMutex);
      path = PathOf(m_dlg.Image, kind);
    }
    std::optional<image::ConfirmedFile> confirmed;
    if (Confirm(kind, path, &confirmed) && LayoutHolds(path)) Accept(kind, path, confirmed);
  }

  bool loaded = false;
  {
    std::lock_guard lock(m_dlg.ImageMutex);
    image::ImageState& state = m_dlg.Image;
    if (os) {
      // A new OS image needs its CSC image opened again; the CSC path stays.
      if (!m_dlg.LastOsImagePath.empty() && m_dlg.LastOsImagePath != state.OsImagePath)
        state.CscImageLoaded = 0;
      m_dlg.LastOsImagePath = state.OsImagePath;
    }
    loaded = LoadedFlagOf(state, kind) == 1;
    if (!loaded) PathOf(state, kind).clear();
  }
  if (!loaded) m_dlg.AppendLog("This File is not a Halcyrafone SMD Image File!!\r\n");
  return loaded ? Outcome::kLoaded : Outcome::kNotLoaded;
}

bool ImageOpener::PairingHolds() {
  image::ImageState probe;
  {
    std::lock_guard lock(m_dlg.ImageMutex);
    const image::ImageState& state = m_dlg.Image;
    probe.OsImagePath = state.OsImagePath;
    probe.CscImagePath = state.CscImagePath;
    // The check looks at the held magic only.
    const size_t head = std::min(state.LoadedHeader.size(), image::SMD_HEADER_SIZE);
    probe.LoadedHeader.assign(state.LoadedHeader.begin(), state.LoadedHeader.begin() + head);
  }
  return image::CheckFactorySignature(probe, m_dlg);
}

bool ImageOpener::Confirm(ImageKind kind, const std::string& path,
                          std::optional<image::ConfirmedFile>* confirmed) {
  uint8_t abort = 1;
  bool stopped = false;
  m_dlg.GetWindow().RunDialog(Md5DialogTemplate(), [&](ui::Window& window) {
    {
      // Checked with the dialog's registration, so a close cannot slip in between.
      std::lock_guard lock(m_confirmMutex);
      if (m_dlg.CloseRequested()) {
        stopped = true;
        return;
      }
      m_confirmWindow = &window;
    }
    CMD5Dlg confirm(m_clock);
    confirm.SetImage(path, kind);
    confirm.m_pOwner = &m_dlg;
    confirm.DoModal(window);
    {
      std::lock_guard lock(m_confirmMutex);
      m_confirmWindow = nullptr;
    }
    abort = confirm.m_bAbort;
    *confirmed = confirm.Confirmed();
    if (onConfirmClosed) onConfirmClosed(confirm);
  });
  // The red verdict alone would not say why a file this large can never pass.
  std::error_code ec;
  if (!stopped && abort != 0 && std::filesystem::file_size(path, ec) > 0xFFFFFFFFull && !ec)
    m_dlg.AppendLog("%s is 4 GiB or more: the image format's file length is 32 bits.\r\n",
                    path.c_str());
  // A close stopped it: not confirmed, whatever the worker got to.
  return !stopped && abort == 0 && !m_dlg.CloseRequested();
}

void ImageOpener::StopConfirmation() {
  std::lock_guard lock(m_confirmMutex);
  if (m_confirmWindow) m_confirmWindow->EndDialog(ui::IDCANCEL);
}

bool ImageOpener::LayoutHolds(const std::string& path) {
  // A digest that matches says the file is what its builder wrote, not that it is safe to
  // write: a partition past the end of the file would fail half-way through a handset,
  // and overlapping partitions would overwrite each other and still report success.
  const std::vector<image::LayoutProblem> problems = image::CheckImageFile(path);
  if (problems.empty()) return true;
  std::string text = "This image cannot be written safely:";
  for (const image::LayoutProblem& p : problems) {
    text += '\n';
    text += p.Text();
  }
  m_dlg.MessageBox(text, "");
  return false;
}

void ImageOpener::Accept(ImageKind kind, const std::string& path,
                         const std::optional<image::ConfirmedFile>& confirmed) {
  const bool os = kind == ImageKind::Os;
  std::string magic;
  std::vector<std::string> codes;
  bool cscLoaded = false;
  {
    std::lock_guard lock(m_dlg.ImageMutex);
    image::ImageState& state = m_dlg.Image;
    if (!image::LoadImageHeader(state, path, kind)) return;
    (os ? state.OsConfirmed : state.CscConfirmed) = confirmed;
    magic = platform::FixedText(state.LoadedHeader.data(), 16);
    for (int i = 0; i < state.SalesCodeCount; ++i)
      codes.emplace_back(state.SalesCodes[static_cast<size_t>(i)].data(),
                         strnlen(state.SalesCodes[static_cast<size_t>(i)].data(), 4));
    cscLoaded = state.CscImageLoaded == 1;
  }

  ui::Window& w = m_dlg.GetWindow();
  auto single = [&](const char* item) {
    w.ComboResetContent(IDC_SALES_CODE);
    w.ComboSetCurSel(IDC_SALES_CODE, w.ComboAddString(IDC_SALES_CODE, item));
  };
  if (os && magic == image::MAGIC_OS_FACTORY) {
    m_dlg.DownloadMode = engine::DOWNLOAD_MODE_FACTORY;
    single("FTA");
  } else if (os) {
    m_dlg.DownloadMode = engine::DOWNLOAD_MODE_ALL;
    if (!cscLoaded) single("NONE");
  } else if (!codes.empty()) {
    // The combo box sorts the codes; the first in its order is selected.
    w.ComboResetContent(IDC_SALES_CODE);
    for (const auto& code : codes) w.ComboAddString(IDC_SALES_CODE, code);
    w.ComboSetCurSel(IDC_SALES_CODE, 0);
    w.EnableWindow(IDC_SALES_CODE, true);
  }
  Remember(kind, path);
  m_dlg.AppendLog("Open KX4 SMD image at : %s\r\n", path.c_str());
}

void ImageOpener::Remember(ImageKind kind, const std::string& path) {
  if (!m_registry.CreateKey(Root::kCurrentUser, SETTINGS_KEY)) return;
  const bool os = kind == ImageKind::Os;
  std::lock_guard lock(RememberedPathMutex);
  RememberedPath& buffer = os ? RememberedOsPath : RememberedCscPath;
  // A path too long for the buffer is used for this image only; the buffer and the
  // value keep the previous one.
  if (!RememberPath(buffer, path)) return;
  (void)m_registry.WriteStringBytes(Root::kCurrentUser, SETTINGS_KEY,
                                    os ? "KX4_SMD_Location" : "CSC_SMD_Location",
                                    RememberedPathBytes(buffer));
}

void ImageOpener::ShowImageInformation() {
  std::string model = "None";
  std::string label = "None";
  std::string build = "Engineer";
  {
    std::lock_guard lock(m_dlg.ImageMutex);
    const image::ImageState& state = m_dlg.Image;
    if (state.OsImageLoaded == 1 && state.LoadedHeader.size() >= image::SMD_HEADER_SIZE) {
      const image::SmdHeader h =
          image::DecodeSmdHeader(state.LoadedHeader.data(), state.LoadedHeader.size());
      model = h.model;
      label = h.label;
      if (image::HasPattern(h.imageType, image::IMAGE_BUILD_PRODUCT) &&
          !image::HasPattern(h.imageType, image::IMAGE_BUILD_ENGINEER))
        build = "Product";
    }
  }
  m_dlg.SetWindowText(IDC_IMAGE_MODEL, model);
  m_dlg.SetWindowText(IDC_IMAGE_LABEL, label);
  m_dlg.SetWindowText(IDC_IMAGE_BUILD, build);
}

void ImageOpener::OpenImageAndShow(ImageKind kind, bool browse) {
  if (Open(kind, browse) == Outcome::kRefused) return;
  ShowImageInformation();
  m_dlg.ApplyImageDefaults(kind);
  m_dlg.UpdateOptionControls();
}

bool ImageOpener::OpenImageAt(ImageKind kind, const std::string& path) {
  if (m_dlg.RunInProgress || m_opening) return OpenImage(kind, false);  // refused, with its box
  {
    std::lock_guard lock(m_dlg.ImageMutex);
    PathOf(m_dlg.Image, kind) = path;
  }
  OpenImageAndShow(kind, false);
  std::lock_guard lock(m_dlg.ImageMutex);
  return LoadedFlagOf(m_dlg.Image, kind) == 1;
}

void ImageOpener::OnDropFiles(const std::vector<std::string>& paths) {
  // The paths are what a run's workers read: a drop meanwhile changes nothing.
  if (m_dlg.RunInProgress) {
    m_dlg.MessageBox(TEXT_OPEN_DURING_RUN, "");
    return;
  }
  if (m_opening) {
    m_dlg.MessageBox(TEXT_OPEN_DURING_OPEN, "");
    return;
  }
  bool osDropped = false;
  bool cscDropped = false;
  for (const std::string& path : paths) {
    if (EndsWith(path, u"kx4")) {
      std::lock_guard lock(m_dlg.ImageMutex);
      m_dlg.Image.OsImagePath = path;
      osDropped = true;
    } else if (EndsWith(path, u"csc")) {
      bool osLoaded = false;
      {
        std::lock_guard lock(m_dlg.ImageMutex);
        osLoaded = m_dlg.Image.OsImageLoaded == 1;
        if (osLoaded || paths.size() > 1) m_dlg.Image.CscImagePath = path;
      }
      if (osLoaded || paths.size() > 1)
        cscDropped = true;
      else
        m_dlg.MessageBox("Please Open KX4 SMD binary first!!!", "");
    } else {
      m_dlg.MessageBox("This File Is Not Image File!!!", "");
    }
  }
  if (osDropped) OpenImageAndShow(ImageKind::Os, false);
  if (cscDropped) OpenImageAndShow(ImageKind::Csc, false);
}

void ImageOpener::AutoLoadImages() {
  std::string osPath;
  {
    std::lock_guard lock(m_dlg.ImageMutex);
    osPath = m_dlg.Image.OsImagePath;
  }
  if (!ReadableFile(osPath)) {
    m_dlg.MessageBox("KX4 binary location is invalid", "");
    return;
  }
  OpenImageAndShow(ImageKind::Os, false);
  if (m_dlg.CloseRequested()) return;  // the window is closing: nothing more to open
  std::string cscPath;
  {
    std::lock_guard lock(m_dlg.ImageMutex);
    cscPath = m_dlg.Image.CscImagePath;
  }
  if (cscPath.find(".csc") != std::string::npos)
    OpenImageAndShow(ImageKind::Csc, false);
  else
    m_dlg.MessageBox("CSC/MBN binary location is invalid", "");
}

}  // namespace console
