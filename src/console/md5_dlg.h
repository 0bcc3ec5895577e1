// The confirmation dialog every image open goes through: a worker reads the image's
// header, applies the model checks and the magic check, then hashes the whole file and
// compares the digest with the one the header stores, showing progress and verdict.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>

#include "console/sx_group_box.h"
#include "console/text_progress_ctrl.h"
#include "image/image_digest.h"
#include "image/smd_format.h"
#include "platform/time/clock.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/window.h"
#include "platform/ui/window_events.h"

namespace console {

class COstrevaneDlg;

inline constexpr int IDD_MD5_DIALOG = 135;
inline constexpr int IDC_MD5_PROGRESS = 1050;
inline constexpr int IDC_MD5_FRAME = 1051;
inline constexpr int IDC_MD5_CLOSE = 1;  // IDOK

ui::DialogTemplate Md5DialogTemplate();

class CMD5Dlg final : public ui::WindowEvents {
 public:
  // The worker's waits go through `clock`.
  explicit CMD5Dlg(platform::Clock& clock);
  ~CMD5Dlg() override;
  CMD5Dlg(const CMD5Dlg&) = delete;
  CMD5Dlg& operator=(const CMD5Dlg&) = delete;

  void SetImage(const std::string& path, image::ImageKind kind);
  // Binds the dialog to `window` (built from Md5DialogTemplate() by the owner's
  // window), on the window's thread.
  void Attach(ui::Window& window);
  // Attach, then runs the dialog until it closes. m_pOwner must be set.
  int DoModal(ui::Window& window);

  COstrevaneDlg* m_pOwner = nullptr;
  CTextProgressCtrl m_progress;
  std::string m_strImagePath;
  image::ImageKind m_nImageKind = image::ImageKind::Os;
  // 0 only when the image was confirmed (or the path was empty); read once the dialog
  // has closed.
  std::atomic<uint8_t> m_bAbort{1};

  // The last percentage the worker reported (100 when it reported none).
  int LastPercent() const { return m_lastPercent.load(); }
  // What a successful confirmation saw of the file, for the channels to hold it to; read
  // once the dialog has closed.
  const std::optional<image::ConfirmedFile>& Confirmed() const { return m_confirmed; }
  bool FileOpen() const { return m_fileOpen.load(); }

  // --- Window events ---------------------------------------------------------------
  void OnInitDialog() override;
  void OnCommand(int controlId, ui::Notify code) override;
  void OnPaintControl(int controlId, ui::Painter& painter, const ui::Rect& client) override;
  void OnCancel() override;
  void OnDestroy() override;

 private:
  void ConfirmMd5Thread();
  // Ends the dialog from the worker (the operator's answer is not needed).
  void CloseDialog();
  // A red verdict; the dialog waits for "Close Dialog".
  void StopWithMessage(const char* text);
  void ShowVerdict(int r, int g, int b, const char* text);
  void SetPosition(int percent);
  void CloseFile();
  bool Stopped() const { return m_stop.load(); }
  // Stops a worker that is still running and waits for it; the window keeps serving
  // meanwhile, since the worker may be waiting for it.
  void DestroyWindow();

  platform::Clock& m_clock;
  ui::Window* m_window = nullptr;
  CSxGroupBox m_frame;
  image::ImageDigestJob m_file;
  std::atomic<bool> m_fileOpen{false};
  std::thread m_pThread;
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_workerDone{false};
  std::atomic<int> m_lastPercent{100};
  std::optional<image::ConfirmedFile> m_confirmed;
};

}  // namespace console
