// The acceptance effects: the run mode and the sales-code list follow the image, the
// information boxes show it, the options are derived again.
#include "console/image_open.h"

#include <atomic>
#include <cstring>

#include "image/image_digest.h"
#include "image/image_loader.h"
#include "image/model_table.h"
#include "image/smd_reader.h"

namespace console {
namespace {

// Model, magic and digest; true when the file may be accepted.
bool Confirm(COstrevaneDlg& dlg, image::ImageKind kind, const std::string& path) {
  image::ImageDigestJob job;
  if (!job.Open(path)) return false;
  const auto& header = job.Header();
  {
    std::lock_guard lock(dlg.ImageMutex);
    if (kind == image::ImageKind::Os) {
      if (!image::CheckOsModel(dlg.Image, header.data() + image::HDR_MODEL, dlg)) return false;
    } else {
      if (dlg.Image.OsImageLoaded != 1) return false;
      if (!image::CheckCscModel(dlg.Image, header.data() + image::HDR_MODEL, dlg)) return false;
    }
  }
  if (image::KindOfMagic(platform::FixedText(header.data(), 16)) != kind) return false;
  std::atomic<bool> stop{false};
  return job.Run([](int) {}, stop).Matches();
}

// Boxes 1014..1016: model, label and build kind of the loaded OS image.
void ShowImageInformation(COstrevaneDlg& dlg) {
  std::string model = "None";
  std::string label = "None";
  std::string build = "Engineer";
  {
    std::lock_guard lock(dlg.ImageMutex);
    if (dlg.Image.OsImageLoaded == 1 && dlg.Image.LoadedHeader.size() >= image::SMD_HEADER_SIZE) {
      const image::SmdHeader h =
          image::DecodeSmdHeader(dlg.Image.LoadedHeader.data(), dlg.Image.LoadedHeader.size());
      model = h.model;
      label = h.label;
      if (image::HasPattern(h.imageType, image::IMAGE_BUILD_PRODUCT) &&
          !image::HasPattern(h.imageType, image::IMAGE_BUILD_ENGINEER))
        build = "Product";
    }
  }
  dlg.SetWindowText(IDC_IMAGE_MODEL, model);
  dlg.SetWindowText(IDC_IMAGE_LABEL, label);
  dlg.SetWindowText(IDC_IMAGE_BUILD, build);
}

}  // namespace

bool OpenImageWithoutDialog(COstrevaneDlg& dlg, image::ImageKind kind, const std::string& path) {
  const bool os = kind == image::ImageKind::Os;
  {
    std::lock_guard lock(dlg.ImageMutex);
    (os ? dlg.Image.OsImageLoaded : dlg.Image.CscImageLoaded) = 0;
    (os ? dlg.Image.OsImagePath : dlg.Image.CscImagePath) = path;
  }
  bool loaded = false;
  std::string magic;
  std::vector<std::string> codes;
  if (Confirm(dlg, kind, path)) {
    std::lock_guard lock(dlg.ImageMutex);
    loaded = image::LoadImageHeader(dlg.Image, path, kind);
    if (loaded) {
      magic = platform::FixedText(dlg.Image.LoadedHeader.data(), 16);
      for (int i = 0; i < dlg.Image.SalesCodeCount; ++i)
        codes.emplace_back(dlg.Image.SalesCodes[i].data(),
                           strnlen(dlg.Image.SalesCodes[i].data(), 4));
    }
  }
  ui::Window& w = dlg.GetWindow();
  if (loaded) {
    auto single = [&](const char* item) {
      w.ComboResetContent(IDC_SALES_CODE);
      w.ComboAddString(IDC_SALES_CODE, item);
      w.ComboSetCurSel(IDC_SALES_CODE, 0);
    };
    if (os && magic == image::MAGIC_OS_FACTORY) {
      dlg.DownloadMode = engine::DOWNLOAD_MODE_FACTORY;
      single("FTA");
    } else if (os) {
      dlg.DownloadMode = engine::DOWNLOAD_MODE_ALL;
      if (dlg.Image.CscImageLoaded != 1) single("NONE");
    } else if (!codes.empty()) {
      w.ComboResetContent(IDC_SALES_CODE);
      for (const auto& c : codes) w.ComboAddString(IDC_SALES_CODE, c);
      w.ComboSetCurSel(IDC_SALES_CODE, 0);
      w.EnableWindow(IDC_SALES_CODE, true);
    }
    dlg.AppendLog("Open KX4 SMD image at : %s\r\n", path.c_str());
  } else {
    dlg.AppendLog("This File is not a Halcyrafone SMD Image File!!\r\n");
    std::lock_guard lock(dlg.ImageMutex);
    (os ? dlg.Image.OsImagePath : dlg.Image.CscImagePath).clear();
  }
  ShowImageInformation(dlg);
  dlg.ApplyImageDefaults(kind);
  dlg.UpdateOptionControls();
  return loaded;
}

}  // namespace console
