// The confirmation worker and the dialog's life: the worker is the only one that
// reads the file; Escape stops it before its next step (or read) and waits for it, so
// nothing it holds outlives the dialog.
#include "console/md5_dlg.h"

#include <mutex>
#include <utility>
#include <vector>

#include "console/ostrevane_dlg.h"
#include "image/model_table.h"
#include "image/smd_reader.h"

namespace console {

namespace {

const ui::FontSpec kProgressFont{"Tahoma", 15, 0, 400};

// Boxes a check asks for while the image lock is held, shown once it is released: the
// operator's answer may take as long as it likes without stalling the window.
class HeldMessages final : public image::OperatorMessages {
 public:
  void MessageBox(const std::string& text, const std::string& caption) override {
    boxes_.emplace_back(text, caption);
  }
  void ShowOn(image::OperatorMessages& target) {
    for (const auto& [text, caption] : boxes_) target.MessageBox(text, caption);
    boxes_.clear();
  }

 private:
  std::vector<std::pair<std::string, std::string>> boxes_;
};

}  // namespace

CMD5Dlg::CMD5Dlg(platform::Clock& clock) : m_clock(clock) {}

CMD5Dlg::~CMD5Dlg() {
  if (m_window) m_window->SetEvents(nullptr);
  m_stop = true;
  if (m_pThread.joinable()) m_pThread.join();
}

void CMD5Dlg::SetImage(const std::string& path, image::ImageKind kind) {
  m_strImagePath = path;
  m_nImageKind = kind;
}

void CMD5Dlg::Attach(ui::Window& window) {
  m_window = &window;
  window.SetEvents(this);
  m_progress.Attach(window, IDC_MD5_PROGRESS);
  m_frame.Attach(window, IDC_MD5_FRAME);
  m_progress.SetFont(kProgressFont);
}

int CMD5Dlg::DoModal(ui::Window& window) {
  Attach(window);
  const int result = window.RunModal();
  window.SetEvents(nullptr);
  return result;
}

void CMD5Dlg::OnInitDialog() {
  m_progress.SetRange(0, 100);
  m_bAbort = 1;
  m_window->EnableWindow(IDC_MD5_CLOSE, false);
  m_pThread = std::thread([this] { ConfirmMd5Thread(); });
}

void CMD5Dlg::OnCommand(int controlId, ui::Notify code) {
  if (controlId == IDC_MD5_CLOSE && code == ui::Notify::Clicked) m_window->EndDialog(ui::IDOK);
}

void CMD5Dlg::OnPaintControl(int controlId, ui::Painter& painter, const ui::Rect& client) {
  if (controlId == IDC_MD5_PROGRESS)
    m_progress.Draw(painter, client);
  else if (controlId == IDC_MD5_FRAME)
    m_frame.Paint(painter, true);
}

void CMD5Dlg::OnCancel() {
  // The worker stops at its next step from here on, not only once the dialog has gone.
  m_stop = true;
  m_window->EndDialog(ui::IDCANCEL);
}

void CMD5Dlg::OnDestroy() {
  DestroyWindow();
}

void CMD5Dlg::DestroyWindow() {
  if (!m_pThread.joinable()) return;
  if (!m_workerDone) {
    // Escape while the worker runs: it stops before its next step. It may be waiting
    // for this thread (a position, a box of the owner), so requests are served until
    // it has ended; m_bAbort stays 1.
    m_stop = true;
    while (!m_workerDone) m_window->WaitDispatchOne(std::chrono::milliseconds(1));
  }
  m_pThread.join();
  CloseFile();
}

void CMD5Dlg::CloseFile() {
  m_file.Close();
  m_fileOpen = false;
}

void CMD5Dlg::CloseDialog() {
  if (!Stopped()) m_window->EndDialog(ui::IDCANCEL);
}

void CMD5Dlg::SetPosition(int percent) {
  if (!Stopped()) m_window->SetPos(IDC_MD5_PROGRESS, percent);
}

void CMD5Dlg::ShowVerdict(int r, int g, int b, const char* text) {
  if (Stopped()) return;
  m_progress.m_barRed = r;
  m_progress.m_barGreen = g;
  m_progress.m_barBlue = b;
  m_progress.SetTextAndPos(text, 100);
}

void CMD5Dlg::StopWithMessage(const char* text) {
  ShowVerdict(255, 0, 0, text);
  if (!Stopped()) m_window->EnableWindow(IDC_MD5_CLOSE, true);
}

void CMD5Dlg::ConfirmMd5Thread() {
  struct Done {
    std::atomic<bool>& flag;
    ~Done() { flag = true; }
  } done{m_workerDone};

  // The stop is looked at before every step: once the dialog is going, the worker
  // neither opens the file nor asks the owner anything, and shows nothing.
  m_clock.Sleep(200);
  if (Stopped()) return;
  if (m_strImagePath.empty()) {
    m_bAbort = 0;
    m_clock.Sleep(500);
    CloseDialog();
    return;
  }
  if (!m_file.Open(m_strImagePath)) {
    StopWithMessage(" Cannot Open Image File Please Try again!");
    return;
  }
  m_fileOpen = true;
  if (Stopped()) return;
  const auto& header = m_file.Header();
  COstrevaneDlg& owner = *m_pOwner;

  // The model decides the family before the magic is looked at.
  HeldMessages held;
  bool modelKnown = false;
  if (m_nImageKind == image::ImageKind::Os) {
    {
      std::lock_guard lock(owner.ImageMutex);
      modelKnown = image::CheckOsModel(owner.Image, header.data() + image::HDR_MODEL, held);
    }
  } else {
    bool osLoaded = false;
    {
      std::lock_guard lock(owner.ImageMutex);
      osLoaded = owner.Image.OsImageLoaded == 1;
      if (osLoaded)
        modelKnown = image::CheckCscModel(owner.Image, header.data() + image::HDR_MODEL, held);
    }
    if (!osLoaded) {
      if (Stopped()) return;
      owner.GetWindow().MessageBox("Please Open KX4 Unified SMD binary first!!", " Error!!!",
                                   /*owned=*/false);
      CloseDialog();
      return;
    }
  }
  if (Stopped()) return;
  held.ShowOn(owner);
  if (!modelKnown) {
    CloseDialog();
    return;
  }

  if (Stopped()) return;
  const std::optional<image::ImageKind> magicKind =
      image::KindOfMagic(platform::FixedText(header.data(), 16));
  if (!magicKind || *magicKind != m_nImageKind) {
    CloseFile();
    m_bAbort = 1;
    CloseDialog();
    return;
  }

  if (Stopped()) return;
  m_file.SumStretchesOf(m_nImageKind);
  const image::DigestResult result = m_file.Run(
      [this](int percent) {
        m_lastPercent = percent;
        if (Stopped()) return;
        m_progress.ShowProgress(percent, PROGRESS_KIND_CONFIRM, "MD5");
        SetPosition(percent);
      },
      m_stop);
  // Stopped by Escape: the dialog and the file are the closing thread's now.
  if (result.outcome == image::DigestOutcome::kStopped || Stopped()) return;
  CloseFile();

  // A file too short to carry a body, one that ended before its length or could not be
  // read to its end was not confirmed: the same verdict as a wrong digest.
  if (result.Matches()) {
    ShowVerdict(0, 255, 0, " MD5 Result Equal Binayr header Information.");
    SetPosition(m_lastPercent);
    m_confirmed = result.confirmed;
    m_bAbort = 0;
    m_clock.Sleep(500);
    CloseDialog();
  } else {
    StopWithMessage(" MD5 Result not Equal Binayr header Information.");
    SetPosition(m_lastPercent);
  }
}

}  // namespace console
