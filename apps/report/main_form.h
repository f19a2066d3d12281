#pragma once

#include <QImage>
#include <functional>
#include <memory>
#include <optional>

#include "apps/common/panel_form.h"
#include "files/file_list_model.h"
#include "files/local_file.h"
#include "files/viewer.h"
#include "link/file_reading.h"
#include "report/report_session.h"
#include "report/report_settings.h"
#include "report/word_backend.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QFontDialog;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTextEdit;
class QThread;
class QToolButton;
class QWidget;

namespace kd735 {
class TPBSpinEdit;
class TStatusBar;
}  // namespace kd735
namespace kd735::sim {
class SimulatedBus;
}

namespace kd735::report_app {

// Where the report program finds and keeps its files, and what makes its reports.
struct ReportEnvironment {
  QString programFolder;  // empty: the program's own folder
  QString templatePath;   // empty: the template beside the program or in the installed tree
  // Where the dialogs start; empty: the program's folder when it can be written to, else the
  // user's documents.
  QString dialogFolder;
  ReportSession::EngineFactory engine;                // empty: the program's own .docx engine
  std::function<bool(const QString& path)> openPath;  // empty: the desktop's program for it
  // LibreOffice's program, which turns a .docx report into PDF; empty: soffice on the PATH.
  QString soffice;
};

// The report program's main window: the virtual instrument panel in the left column, the two
// pages of the report on the right (settings and Word, and the instrument's files).
class TMainForm final : public TPanelForm {
  Q_OBJECT

 public:
  // `simulated`: the simulated bus, which gets its "Имитатор" menu; null on the USB bus.
  explicit TMainForm(sim::SimulatedBus* simulated = nullptr, ReportEnvironment environment = {},
                     QWidget* parent = nullptr);
  ~TMainForm() override;

  void SetLink(LinkController* link) override;

  // The report options as the controls hold them now.
  ReportSettings Settings() const;
  FileListModel& List(ListKind kind) { return kind == ListKind::Measure ? measure_ : bscan_; }
  ListKind CurrentList() const { return currentList_; }
  QString ReportPath() const { return reportPath_; }
  // Actions of the report not yet finished.
  int PendingReportActions() const { return session_ ? session_->Pending() : 0; }
  WordBackend Backend() const { return backend_; }
  // Whether it is known yet if LibreOffice Writer can be used (found out off the window's thread).
  bool WriterChecked() const { return writerChecked_; }

  // Handlers, named after their control and event.
  void FormCreate();
  void ReadMesuareFilesBitBtnClick(FileSide side);
  void ReadBreakSpeedButtonClick();
  void ListPopupMenuPopup(ListKind kind, const QPoint& at);
  void DeleteFileFromListClick();
  void ClearAllOfListBoxClick();
  void LoadFileToListClick();
  void SaveFileToCatalogPCClick();
  void GetDataToMSWordClick();
  void MSWord1Click();
  void MesuareListBoxClick(ListKind kind);
  void CopyRichEditToClipboardClick();
  void SaveToRTFFileClick();
  void CopyBitMapToClipBoar_MenuItemClick();
  void SaveFBitMapToFile_MenuItemClick();
  void ImageInvColorCheckBoxClick();
  void SetTMPFileBitBtnClick();
  void CreateWordDocBitBtnClick();
  void CloseWordDocsBitBtnClick();
  void FontBitBtnClick();
  void OpenReportClick();
  void OpenReportFolderClick();
  void SaveReportPdfButtonClick();
  void WordEngineComboBoxChange(int index);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildLeftColumn();
  void BuildSettingsPage();
  void BuildFilesPage();
  QWidget* BuildListColumn(FileSide side);
  void BuildMenus();
  void UpdateReadingState();
  void AppendEntry(ListKind kind, FileListEntry entry);
  void AddLocalFile(ListKind kind, const QString& path);
  void ShowDescription(const TKD735FileContent& content);
  void ShowReportFile(const QString& path);
  void UpdatePdfButton();
  void SendFromList(bool all);
  void BringToFront();
  void MakeSession(WordBackend backend);
  void CheckWriter();
  void ShowWriterAvailability();
  QListView* ListView(ListKind kind) const;
  int SelectedRow(ListKind kind) const;
  bool eventFilter(QObject* watched, QEvent* event) override;

  ReportEnvironment environment_;
  FileListModel measure_;
  FileListModel bscan_;
  ListKind currentList_ = ListKind::Measure;
  std::unique_ptr<InstrumentFileReader> reader_;
  std::unique_ptr<ReportSession> session_;
  ReportSession::Handlers sessionHandlers_;
  WordBackend backend_ = WordBackend::kDocx;
  WordBackendAvailability writer_;
  bool writerChecked_ = false;
  bool engineSettled_ = false;  // chosen by the user or used: the check then changes nothing
  QThread* writerCheck_ = nullptr;
  Description shown_;                                // the description in RichEdit
  QImage viewImage_;                                 // the picture in ViewFileImage
  const TKD735FileContent* shownContent_ = nullptr;  // for redrawing on the inversion box
  QFont lastChosenFont_;
  QString reportPath_;
  bool reportMade_ = false;  // a document was made in this engine
  bool closing_ = false;
  bool showingEntry_ = false;

  // Left column.
  QGroupBox* VirtualKDGroupBox = nullptr;
  QFrame* BottomPanel = nullptr;
  QTabWidget* PageControl = nullptr;
  QWidget* CreateMSWordDocumentTabSheet = nullptr;
  QWidget* TxDataToMSWordTabSheet = nullptr;

  // Settings and Word.
  QPushButton* SetTMPFileBitBtn = nullptr;
  QLineEdit* TMPNameEdit = nullptr;
  QPushButton* CreateWordDocBitBtn = nullptr;
  QPushButton* CloseWordDocsBitBtn = nullptr;
  QComboBox* WordEngineComboBox = nullptr;
  TPBSpinEdit* DocNumPBSpinEdit = nullptr;
  QCheckBox* DocNumIncrementCheckBox = nullptr;
  QCheckBox* DocNumberInsertCheckBox = nullptr;
  QCheckBox* DocDataInsertCheckBox = nullptr;
  QCheckBox* DocDevNumInsertCheckBox = nullptr;
  QPushButton* FontBitBtn = nullptr;
  QLineEdit* FontNameEdit = nullptr;
  TPBSpinEdit* FontSizePBSpinEdit = nullptr;
  QCheckBox* FontBoldCheckBox = nullptr;
  QCheckBox* FontItalicCheckBox = nullptr;
  TPBSpinEdit* TableMesuareNumPBSpinEdit = nullptr;
  QCheckBox* MesuareInvertColorCheckBox = nullptr;
  QCheckBox* MesuareInsertDevTypeAnDNumCheckBox = nullptr;
  QCheckBox* MesuareInsertFileNameCheckBox = nullptr;
  QCheckBox* MesuareInsertDateTimeCheckBox = nullptr;
  QCheckBox* MesuareInsertStateCheckBox = nullptr;
  QCheckBox* MesuareAscanParamsCheckBox = nullptr;
  QCheckBox* MesuareHscaleParamsCheckBox = nullptr;
  QCheckBox* MesuarePEPparamsCheckBox = nullptr;
  TPBSpinEdit* TablBscanNumPBSpinEdit = nullptr;
  QCheckBox* BscanInvertColorCheckBox = nullptr;
  QCheckBox* BscanDevTypeAnDNumCheckBox = nullptr;
  QCheckBox* BscanInsertFileNameCheckBox = nullptr;
  QCheckBox* BscanInsertDateTimeCheckBox = nullptr;
  QCheckBox* InsertBscanVelRecCheckBox = nullptr;
  QCheckBox* BscanAscanParamsCheckBox = nullptr;
  QCheckBox* BscanHscaleParamsCheckBox = nullptr;
  QCheckBox* BscanPEPparamsCheckBox = nullptr;
  QLabel* ReportFileLabel = nullptr;
  QPushButton* OpenReportButton = nullptr;
  QPushButton* OpenReportFolderButton = nullptr;
  QPushButton* SaveReportPdfButton = nullptr;
  TStatusBar* ReportStatusBar = nullptr;

  // The instrument's files.
  QPushButton* ReadMesuareFilesBitBtn = nullptr;
  QPushButton* ReadBscanBitBtn = nullptr;
  QToolButton* ReadBreakSpeedButton = nullptr;
  QToolButton* SpeedButton1 = nullptr;
  QProgressBar* ReadMasuareGauge = nullptr;
  QProgressBar* ReadBscanGauge = nullptr;
  QLabel* MesuareLabel = nullptr;
  QLabel* BscanLabel = nullptr;
  QListView* MesuareListBox = nullptr;
  QListView* BScanListBox = nullptr;
  QTextEdit* RichEdit = nullptr;
  QLabel* ViewFileImage = nullptr;
  QCheckBox* ImageInvColorCheckBox = nullptr;

  QMenu* ListPopupMenu = nullptr;
  QAction* FileTypeItem = nullptr;
  QAction* GetDataToMSWord = nullptr;
  QAction* MSWord1 = nullptr;
  QAction* DeleteFileFromList = nullptr;
  QAction* ClearAllOfListBox = nullptr;
  QAction* LoadFileToList = nullptr;
  QAction* SaveFileToCatalogPC = nullptr;
  QMenu* RichEditPopupMenu = nullptr;
  QMenu* FBitMapPopupMenu = nullptr;
};

}  // namespace kd735::report_app
