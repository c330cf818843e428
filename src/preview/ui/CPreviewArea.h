#pragma once
// The preview area of the results window: shows the selected found file in
// the pane its kind calls for (hex, text, RTF, image, PDF, Office, HTML,
// media) and falls back to the hex pane whenever that pane cannot show it.
// Everything that reads the file, decodes or converts it runs on the
// preview's worker, so a click never waits; a newer selection drops what an
// older one still had to do. Copies a player or a converter needs go into a
// private folder that is removed with the area.

#include <QPointer>
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/FoundItemInfo.h"
#include "preview/PreviewKinds.h"

namespace corvan {

class ByteSource;
class PreviewCancel;
struct PreviewBytes;
class PreviewTempDir;
class PreviewWorker;
class ScanEngine;

class CPreviewArea : public QWidget {
  Q_OBJECT
 public:
  // The help page on the previews.
  static constexpr int kHelpContext = 139;

  // Makes `link` (the "List of available preview" text) open that page when
  // it is clicked.
  static void ConnectHelpLink(QWidget* link);

  explicit CPreviewArea(QWidget* parent = nullptr);
  ~CPreviewArea() override;

  // Shows `item`, named `name`, read through `engine`; `forceHex` is "Show
  // As Hex". Returns the pane chosen (Placeholders: nothing to show, the
  // area stays empty); the pane may still fall back to hex once its data is
  // in.
  PreviewPane ShowItem(ScanEngine* engine, const FoundItemInfo& item, const std::u16string& name,
                       bool forceHex = false);
  // Removes the pane and drops what the worker still had to do for it.
  void Clear();
  // Clear, then wait until the worker no longer reads through an engine
  // (before something else reads them, such as a save).
  void Quiesce();

  // The pane showing now (Placeholders: none), and whether it has its data.
  PreviewPane Shown() const { return m_shown; }
  bool Ready() const { return m_ready; }
  QWidget* Pane() const { return m_pane; }
  template <class T>
  T* PaneAs() const {
    return qobject_cast<T*>(m_pane.data());
  }
  // The private folder (for tests: it must be gone with the area).
  std::filesystem::path TempFolder() const;

  // The Office converter; by default the one on the PATH. An empty path
  // means none is installed.
  void SetOfficeConverter(std::filesystem::path program);

 signals:
  // The pane shows the file (after any fallback to hex).
  void PaneReady(corvan::PreviewPane pane);

 private:
  template <class Result>
  void Run(std::function<Result(const PreviewCancel&)> work, std::function<void(Result)> done);
  // Runs `work` on the worker over the item's bytes (nothing without an
  // engine: a default Result), then `done` here.
  template <class Result>
  void RunOnSource(std::function<Result(ByteSource&)> work, std::function<void(Result)> done);
  // Reads the item's bytes [0, end) on the worker and runs `work` on them
  // there (nothing without an engine or once the selection is over: a
  // default Result), then `done` here.
  template <class Result>
  void RunOnBytes(std::uint64_t end, std::function<Result(PreviewBytes)> work, std::function<void(Result)> done);
  // Reads the item's bytes [0, end) on the worker, then runs `done` here.
  void ReadBytes(std::uint64_t end, std::function<void(PreviewBytes)> done);
  // Copies the first `limit` bytes of the item to `copy` (in ItemFolder())
  // on the worker; `done` is told whether the copy was made.
  void CopyItem(std::filesystem::path copy, std::uint64_t limit, std::function<void(bool)> done);
  // The pane's Loaded(false) brings the hex pane.
  template <class PaneType>
  void FallBackUnlessLoaded(PaneType* pane);
  void SetPane(QWidget* pane, PreviewPane kind, QMargins margins = {});
  void MarkReady();
  void ShowHex();
  void ShowText();
  void ShowRtf();
  void ShowImage();
  void DecodeImage(QSize fit);
  void ShowPdf();
  void ShowOffice();
  void ShowHtml();
  void ShowMedia();
  void ShowArchive();
  void ShowBackup();
  void ShowTable();
  // A new folder of the private folder for this item's copies.
  std::filesystem::path ItemFolder();
  bool RefuseLargeDocument();

  std::unique_ptr<PreviewWorker> m_worker;
  std::unique_ptr<PreviewTempDir> m_temp;
  std::vector<std::filesystem::path> m_oldFolders;
  std::filesystem::path m_itemFolder;
  std::filesystem::path m_officeProgram;
  bool m_officeProgramKnown = false;

  ScanEngine* m_engine = nullptr;
  FoundItemInfo m_item;
  std::u16string m_name;
  PreviewPane m_shown = PreviewPane::Placeholders;
  bool m_ready = false;
  QPointer<QWidget> m_pane;
  std::shared_ptr<const std::vector<std::uint8_t>> m_imageBytes;
};

}  // namespace corvan
