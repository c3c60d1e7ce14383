#include "gui/Main.h"

#include "desktop/Decryption.h"
#include "desktop/FileTools.h"
#include "desktop/Identify.h"
#include "desktop/InstallWorker.h"
#include "desktop/Language.h"
#include "desktop/OutputForms.h"
#include "desktop/PatchCatalogue.h"
#include "desktop/PatchPackage.h"
#include "desktop/Places.h"
#include "desktop/Startup.h"
#include "gui/ChangeMusic.h"
#include "gui/FileDialogs.h"
#include "gui/Fonts.h"
#include "gui/LanguageUi.h"
#include "gui/MessageBoxes.h"
#include "gui/OpenLink.h"

#include "ui_Main.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLineEdit>
#include <QLocale>
#include <QMimeData>
#include <QScreen>
#include <QSignalBlocker>

#include <utility>

namespace {

constexpr int kWindowWidth = 657;
constexpr int kWindowHeight = 482;
constexpr int kHintDuration = 20000; // ms a tooltip stays visible
constexpr int kDialogFontPixels = 11;
constexpr int kLogFontPixels = 12;
// The open dialog first shows every form of image together (the entry listing them all).
constexpr int kSourceFilterShown = 6;

/// The one local file that a drag carries, or an empty text.
QString SingleDroppedFile(const QMimeData* mime) {
    if (mime == nullptr || !mime->hasUrls())
        return QString();
    const QList<QUrl> urls = mime->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return QString();
    const QString path = urls.first().toLocalFile();
    return QFileInfo(path).isFile() ? path : QString();
}

} // namespace

TForm1::TForm1(const QString& program_folder, QWidget* parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::TForm1>()),
      m_given_program_folder(program_folder) {
    m_ui->setupUi(this);
    SetUpWindow();
    FormCreate();
    ConnectWidgetEvents();
}

TForm1::~TForm1() = default;

void TForm1::SetUpWindow() {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kWindowWidth, kWindowHeight);
    setAcceptDrops(true);
    // A file dropped on the language box is meant for the window: typed into the box as a
    // language name, it would empty the language table.
    if (QLineEdit* language_edit = m_ui->CBLang->lineEdit())
        language_edit->setAcceptDrops(false);

    // The fonts the layout was drawn for do not exist here: the system's sans-serif and
    // monospace fonts take their places at the same pixel sizes.
    QFont dialog_font = UsableSystemFont(QFontDatabase::GeneralFont);
    dialog_font.setPixelSize(kDialogFontPixels);
    setFont(dialog_font);
    QFont log_font = UsableSystemFont(QFontDatabase::FixedFont);
    log_font.setPixelSize(kLogFontPixels);
    m_ui->MemoLog->setFont(log_font);

    // The description pane has the menu's colour and no frame.
    QPalette palette = m_ui->RichDesc->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    m_ui->RichDesc->setPalette(palette);

    m_voice_group = new QButtonGroup(this);
    m_voice_group->addButton(m_ui->TntRadioGroup2Item0, 0);
    m_voice_group->addButton(m_ui->TntRadioGroup2Item1, 1);
    m_voice_group->addButton(m_ui->TntRadioGroup2Item2, 2);

    if (const QScreen* screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kWindowWidth / 2, kWindowHeight / 2));
    }
}

void TForm1::ConnectWidgetEvents() {
    connect(m_ui->CBLang, &QComboBox::currentTextChanged, this, [this] { CBLangChange(); });
    connect(m_ui->btOldRomPath, &QPushButton::clicked, this, [this] { btOldRomPathClick(); });
    connect(m_ui->btNewRomPath, &QPushButton::clicked, this,
            [this] { btNewRomPathClick(m_ui->btNewRomPath); });
    connect(m_ui->CBPatch, &QComboBox::currentIndexChanged, this, [this] { CBPatchChange(); });
    connect(m_ui->CBPatch, &QComboBox::currentIndexChanged, this, [this] { ShowChosenPatchFit(); });
    connect(m_ui->BTNMusicChange, &QPushButton::clicked, this, [this] { BTNMusicChangeClick(); });
    connect(m_ui->BTNAddPatch, &QPushButton::clicked, this, [this] { BTNAddPatchClick(); });
    connect(m_ui->BTNInstallPatch, &QPushButton::clicked, this, [this] { BTNInstallPatchClick(); });
    connect(m_ui->BTNCancel, &QPushButton::clicked, this, [this] { BTNCancelClick(); });
    connect(m_ui->BTNRemoveMods, &QPushButton::clicked, this, [this] { BTNRemoveModsClick(); });
    connect(m_ui->RichDesc, &QTextBrowser::anchorClicked, this,
            [](const QUrl& url) { OpenDescriptionLink(url); });
}

int TForm1::CheckedVoiceIndex() const {
    const int id = m_voice_group->checkedId();
    return id < 0 ? 0 : id;
}

void TForm1::ShowErrorKey(const QString& key) {
    ShowMessage(this, TMessageKind::Error, m_state.LanguageTable.Lookup(key));
}

void TForm1::AddLogEntry(const QString& entry) {
    // One line break of the log per CR LF (or lone CR or LF) of the entry.
    QString text = entry;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    m_ui->MemoLog->appendPlainText(text);
}

// ---- Start-up and closing ----

void TForm1::FormCreate() {
    for (QWidget* widget : findChildren<QWidget*>())
        widget->setToolTipDuration(kHintDuration);
    setToolTipDuration(kHintDuration);
    m_ui->RichDesc->setOpenLinks(false);
    m_ui->RichDesc->setOpenExternalLinks(false);

    m_state.ProgramFolder = WithTrailingSeparator(m_given_program_folder.isEmpty()
                                                      ? QCoreApplication::applicationDirPath()
                                                      : m_given_program_folder);
    // Encrypted images find their keys in the program folder's keys, then the emulators' folders.
    TKeySearch keys = KeySearch();
    keys.ProgramFolder = m_state.ProgramFolder;
    SetKeySearch(keys);

    FindLanguageFiles();
    // The language is put into the box by one change of its entry, the same for every
    // language. The first entry, which the box selects by itself while the list is filled, is
    // not relied on: started in English under Wine, the box showed nothing although English
    // was loaded (with Russian, the second entry, it showed its name).
    const QString language = DefaultLanguageName();
    const int index = m_ui->CBLang->findText(language);
    {
        const QSignalBlocker blocker(m_ui->CBLang);
        m_ui->CBLang->setCurrentIndex(-1);
    }
    if (index >= 0)
        m_ui->CBLang->setCurrentIndex(index);
    else
        m_ui->CBLang->setEditText(language);

    if (LoadLanguage(m_ui->CBLang->currentText(), m_state.LanguageTable, m_state.ProgramFolder,
                     this) != 0) {
        m_startup_failed = true;
        return;
    }

    const QString missing_tool = FirstMissingToolKey(m_state.ProgramFolder);
    if (!missing_tool.isEmpty()) {
        // No parent: the dialog is centred on the screen, the window is never shown.
        ShowMessage(nullptr, TMessageKind::Error, m_state.LanguageTable.Lookup(missing_tool));
        m_startup_failed = true;
        return;
    }

    m_state.PatchList.clear();
    AddFreeSpaceLines();
}

void TForm1::AddFreeSpaceLines() {
    const TLanguageTable& texts = m_state.LanguageTable;
    AddLogEntry(texts.Lookup(QStringLiteral("MessageDiskFreeSpace")) + QStringLiteral("\r\n"));
    const auto space = FreeSpaceOf(m_state.ProgramFolder);
    if (!space)
        return;
    AddLogEntry(texts.Lookup(QStringLiteral("CurrentDrive")) +
                QDir::toNativeSeparators(space->RootPath));
    AddLogEntry(texts.Lookup(QStringLiteral("FreeSpace")) +
                FormatGibibytes(space->BytesAvailable, QLocale::system().decimalPoint()) +
                QStringLiteral(" GB"));
}

void TForm1::FormClose() {
    // A running worker still reads the language table and the patch list; they stay until
    // the program ends.
    const bool worker_running = m_worker && m_worker->isRunning();
    if (!worker_running)
        m_state.PatchList.clear();
    m_state.LanguageList.clear();
    if (!worker_running)
        m_state.LanguageTable.Clear();
    if (!worker_running)
        m_state.TrackList.reset();
}

// ---- Language ----

void TForm1::FindLanguageFiles() {
    m_state.LanguageList = FindLanguageNames(m_state.ProgramFolder);
    const QSignalBlocker blocker(m_ui->CBLang);
    m_ui->CBLang->clear();
    m_ui->CBLang->addItems(m_state.LanguageList);
}

void TForm1::CBLangChange() {
    LoadLanguage(m_ui->CBLang->currentText(), m_state.LanguageTable, m_state.ProgramFolder, this);
    btNewRomPathClick(m_ui->CBLang);
}

TForm1::TMusicWindowContext TForm1::MusicWindowContext() {
    return {&m_state.LanguageTable, m_state.ProgramFolder, m_ui->CBLang->currentText()};
}

// ---- Step 1: source image ----

void TForm1::btOldRomPathClick() {
    const auto path =
        SelectOpenFile(this, m_state.ProgramFolder, SourceImageFilter(), kSourceFilterShown);
    if (!path)
        return;
    OpenSourceImage(*path);
}

void TForm1::DisableStepsAfterSource() {
    m_ui->ebNewRom->setEnabled(false);
    m_ui->btNewRomPath->setEnabled(false);
    m_ui->CBPatch->setEnabled(false);
    m_ui->BTNInstallPatch->setEnabled(false);
    m_ui->BTNMusicChange->setEnabled(false);
    m_ui->TntRadioGroup2->setEnabled(false);
    m_ui->BTNRemoveMods->setEnabled(false);
}

void TForm1::UpdateRemoveModsButton() {
    m_ui->BTNRemoveMods->setEnabled(
        !m_worker && m_ui->btNewRomPath->isEnabled() && !m_ui->ebNewRom->text().isEmpty() &&
        IsModFolderKind(m_state.OutputKind) && !m_state.SourceTitleId.isEmpty());
}

void TForm1::OpenSourceImage(const QString& path) {
    if (SourceKindOfPath(path).isEmpty()) {
        // A name that says no image: only a file whose content is one goes on. Anything else
        // is refused before anything changes, so the source chosen before stays in force
        // together with everything that follows it.
        const TSourceForm form = SourceFormOfFile(path);
        if (form.Kind.isEmpty() && form.Problem.isEmpty()) {
            ShowErrorKey(form.Opened ? QStringLiteral("ErrorNotAnImage")
                                     : QStringLiteral("ErrorLoadingROM"));
            return;
        }
    }
    m_state.SourcePath = path;
    m_ui->ebOldRom->setText(path);
    StopFitCheck();

    const TIdentifyResult result = IdentifySourceImage(path, m_state.LanguageTable);
    if (!result.Opened) {
        // Nothing may go on from a source that cannot be read.
        DisableStepsAfterSource();
        ShowErrorKey(result.ErrorKey);
        return;
    }

    m_state.PatchList.clear();
    {
        const QSignalBlocker blocker(m_ui->CBPatch);
        m_ui->CBPatch->clear();
    }
    m_ui->CBPatch->setEnabled(false);
    m_ui->BTNInstallPatch->setEnabled(false);
    m_ui->BTNMusicChange->setEnabled(false);
    m_ui->TntRadioGroup2->setEnabled(false);
    m_ui->MemoLog->clear();

    if (!result.Kind.isEmpty())
        m_state.SourceKind = result.Kind;
    for (const QString& entry : result.LogEntries)
        AddLogEntry(entry);
    if (result.HasInfoPosition)
        m_state.InfoPosition = result.InfoPosition;
    if (!result.Region.isEmpty())
        m_state.SourceRegion = result.Region;
    m_state.SourceTitleId = result.TitleId;

    const bool key_files_chosen = std::exchange(m_key_files_chosen, false);
    if (!result.Usable()) {
        // The output step stays closed until a usable image is chosen, so that no run can
        // start from an image that was not identified.
        DisableStepsAfterSource();
        if (!result.ErrorKey.isEmpty())
            ShowErrorKey(result.ErrorKey);
        else if (result.NeedsKeys)
            OfferKeyFileChoice();
        return;
    }
    // A card image output chosen for an earlier card image is not offered for a CIA or CXI
    // image: forget it, so that a language change cannot rebuild the patch list for it.
    const TOutputForm* output_form = FindOutputForm(m_state.OutputKind);
    if (output_form != nullptr && output_form->CartridgeOnly &&
        !IsCartridgeKind(m_state.SourceKind)) {
        m_state.OutputPath.clear();
        m_state.OutputKind.clear();
        m_ui->ebNewRom->clear();
    }
    m_ui->ebNewRom->setEnabled(true);
    m_ui->btNewRomPath->setEnabled(true);
    UpdateRemoveModsButton();
    StartFitCheck();
    if (key_files_chosen && result.Encrypted)
        OfferKeyFileCopy();
}

void TForm1::OfferKeyFileChoice() {
    const TLanguageTable& texts = m_state.LanguageTable;
    if (!ShowMessageWithChoice(this, TMessageKind::Warning,
                               texts.Lookup(QStringLiteral("EncryptedChooseKeys")),
                               texts.Lookup(QStringLiteral("ChooseKeyFile"))))
        return;
    const auto path = SelectOpenFile(this, m_state.ProgramFolder, KeyFileFilter());
    if (!path)
        return;
    SetKeySearch(WithChosenKeyFile(KeySearch(), *path));
    m_key_files_chosen = true;
    OpenSourceImage(m_state.SourcePath);
}

void TForm1::OfferKeyFileCopy() {
    const TLanguageTable& texts = m_state.LanguageTable;
    if (!ShowMessageWithChoice(this, TMessageKind::Information,
                               texts.Lookup(QStringLiteral("KeyFilesCopyQuestion")),
                               texts.Lookup(QStringLiteral("KeyFilesCopy"))))
        return;
    QString problem;
    if (!CopyKeyFilesTo(KeySearch(), m_state.ProgramFolder, problem))
        ShowMessage(this, TMessageKind::Error,
                    texts.Lookup(QStringLiteral("ErrorCopyingKeyFiles")) + QStringLiteral("\r\n") +
                        problem);
}

bool TForm1::TakesDroppedFile(const QString& path) const {
    // A patch package is added, anything else is taken for a source image.
    if (path.isEmpty())
        return false;
    return IsPatchPackageName(path) ? m_ui->BTNAddPatch->isEnabled()
                                    : m_ui->btOldRomPath->isEnabled();
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (TakesDroppedFile(SingleDroppedFile(event->mimeData())))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TForm1::dropEvent(QDropEvent* event) {
    const QString path = SingleDroppedFile(event->mimeData());
    if (!TakesDroppedFile(path)) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    if (IsPatchPackageName(path))
        AddPatchPackageFile(path);
    else
        OpenSourceImage(path);
}

// ---- Steps 2 and 3: output and patch ----

void TForm1::btNewRomPathClick(QObject* sender) {
    if (sender != m_ui->CBLang) {
        m_state.SaveFilter = OutputFilter(m_state.SourceKind, m_state.LanguageTable);
        QStringList places;
        for (const TPlace& place : FindPlaces(SystemPlaceInputs()))
            places << place.Path;
        SelectSaveFile(this, m_state.ProgramFolder, m_state.SaveFilter, m_state.OutputPath,
                       m_state.OutputKind, places);
        m_ui->ebNewRom->setText(OutputDisplayText(m_state.OutputPath, m_state.OutputKind));
        UpdateRemoveModsButton();
    } else if (!m_ui->btNewRomPath->isEnabled()) {
        // The output step is closed (the last source image could not be used): a language
        // change must not reopen the patch list and the install button behind its back.
        return;
    }
    if (m_ui->ebNewRom->text().isEmpty())
        return;

    {
        const QSignalBlocker blocker(m_ui->CBPatch);
        m_ui->CBPatch->clear();
        m_state.PatchList.clear();
        m_ui->CBPatch->addItem(m_state.LanguageTable.Lookup(QStringLiteral("None")));
        m_state.PatchList.append(QString());
        PopulatePatchComboBox(m_ui->CBPatch,
                              FindEntryNoCase(m_state.ProgramFolder, QStringLiteral("patch")), true,
                              QStringLiteral(".dsc"));
        m_ui->CBPatch->setEnabled(true);
        m_ui->BTNMusicChange->setEnabled(true);
        m_ui->CBPatch->setCurrentIndex(0);
    }
    CBPatchChange();
}

void TForm1::PopulatePatchComboBox(QComboBox* box, const QString& folder, bool recurse,
                                   const QString& extension) {
    const auto entries = ScanPatchFolders(folder, recurse, extension, m_ui->CBLang->currentText(),
                                          m_state.SourceRegion);
    for (const TPatchEntry& entry : entries) {
        box->addItem(PatchEntryText(entry));
        m_state.PatchList.append(entry.DescriptionPath);
    }
    MarkPatchEntries();
}

void TForm1::CBPatchChange() {
    const int index = m_ui->CBPatch->currentIndex();
    if (index < 0)
        return;
    if (index == 0) {
        m_state.NoXdelta = true;
        m_state.NoVoiceChoice = true;
        m_state.NoPatch = true;
        m_ui->TntRadioGroup2->setEnabled(false);
        m_ui->BTNInstallPatch->setEnabled(true);
        m_ui->BTNMusicChange->setEnabled(true);
        ShowPlainDescription(m_ui->RichDesc,
                             m_state.LanguageTable.Lookup(QStringLiteral("DescriptionDefault")));
        RebuildTrackList(QString());
        m_shown_patch = 0;
        return;
    }

    const QString path = m_state.PatchList.value(index);
    const auto description = ReadPatchDescription(path);
    if (!description) {
        // The flags, digests and track list stay those of the entry shown before; so does the
        // selection, which a run reads to find the patch folder.
        {
            const QSignalBlocker blocker(m_ui->CBPatch);
            m_ui->CBPatch->setCurrentIndex(m_shown_patch);
        }
        ShowErrorKey(QStringLiteral("LoadDescError"));
        return;
    }
    const QString refused = ProgramVersionProblem(*description, m_state.LanguageTable);
    if (!refused.isEmpty()) {
        // Refused like a description that cannot be read: the entry shown before stays.
        {
            const QSignalBlocker blocker(m_ui->CBPatch);
            m_ui->CBPatch->setCurrentIndex(m_shown_patch);
        }
        ShowMessage(this, TMessageKind::Error, refused);
        return;
    }
    ShowPlainDescription(m_ui->RichDesc, PatchPaneText(*description, m_state.LanguageTable));
    m_state.OriginalPackDatMD5 = description->OriginalPackDatMD5;
    m_state.OriginalPackIncMD5 = description->OriginalPackIncMD5;
    const QString folder = PatchFolderOf(path);
    const bool voice = PatchHasVoiceFolder(folder);
    m_ui->TntRadioGroup2->setEnabled(voice);
    m_state.NoVoiceChoice = !voice;
    m_state.NoXdelta = !PatchHasXdelta(folder);
    RebuildTrackList(folder);
    m_state.NoPatch = false;
    m_ui->BTNInstallPatch->setEnabled(true);
    m_shown_patch = index;
}

void TForm1::RebuildTrackList(const QString& patch_folder) {
    m_state.TrackList.reset();
    m_state.TrackList = std::make_unique<TTrackList>(m_state.SourcePath, patch_folder,
                                                     m_state.InfoPosition, DefaultTrackListData());
    switch (m_state.TrackList->Status()) {
    case TTrackListStatus::Ok:
        m_ui->BTNMusicChange->setEnabled(true);
        break;
    case TTrackListStatus::ErrorTrackListFormat:
        m_ui->BTNMusicChange->setEnabled(false);
        ShowErrorKey(QStringLiteral("ErrorTrackListFormat"));
        break;
    case TTrackListStatus::ErrorReadingTracks:
        m_ui->BTNMusicChange->setEnabled(false);
        ShowErrorKey(QStringLiteral("ErrorReadingTracks"));
        break;
    }
}

void TForm1::BTNMusicChangeClick() {
    if (!m_state.TrackList)
        return;
    TForm2 form(
        *m_state.TrackList, m_state.LanguageTable, m_state.ProgramFolder,
        m_ui->CBLang->currentText(), [this](const QString& entry) { AddLogEntry(entry); }, this);
    form.exec();
}

void TForm1::BTNAddPatchClick() {
    const auto path = SelectOpenFile(this, m_state.ProgramFolder, PatchPackageFilter());
    if (!path)
        return;
    AddPatchPackageFile(*path);
}

void TForm1::AddPatchPackageFile(const QString& path) {
    const TLanguageTable& texts = m_state.LanguageTable;
    const auto shown = [](const QString& version) {
        return version.isEmpty() ? QStringLiteral("-") : version;
    };
    const TReplaceQuestion question = [&](const TInstalledPatch& installed,
                                          const TPatchDescription& package, bool newer) {
        const QString text =
            texts
                .Lookup(newer ? QStringLiteral("PackageUpgradeQuestion")
                              : QStringLiteral("PackageDowngradeQuestion"))
                .arg(package.Title, shown(installed.Version), shown(package.Version));
        return ShowMessageWithChoice(this,
                                     newer ? TMessageKind::Information : TMessageKind::Warning,
                                     text, texts.Lookup(QStringLiteral("PackageReplace")));
    };
    const TAddPatchResult result =
        AddPatchPackage(path, FindEntryNoCase(m_state.ProgramFolder, QStringLiteral("patch")),
                        m_ui->CBLang->currentText(), texts, question);
    switch (result.Outcome) {
    case TAddPatchResult::TOutcome::Refused:
        ShowMessage(this, TMessageKind::Error, result.Problem);
        return;
    case TAddPatchResult::TOutcome::Kept:
        AddLogEntry(texts.Lookup(QStringLiteral("PackageKept")).arg(shown(result.PreviousVersion)));
        return;
    case TAddPatchResult::TOutcome::Replaced:
        AddLogEntry(
            texts.Lookup(QStringLiteral("PackageReplaced")).arg(shown(result.PreviousVersion)));
        break;
    case TAddPatchResult::TOutcome::Added:
        AddLogEntry(texts.Lookup(QStringLiteral("PackageAdded")));
        break;
    }
    AddLogEntry(PatchEntryText({result.Patch.Title, result.DescriptionPath, result.Patch.Version}) +
                QStringLiteral("\r\n") + QDir::toNativeSeparators(result.Folder));

    // Once an output is chosen the list is shown: it is rebuilt with the new patch selected
    // (when it is offered for the source's region).
    if (!m_ui->btNewRomPath->isEnabled() || m_ui->ebNewRom->text().isEmpty())
        return;
    btNewRomPathClick(m_ui->CBLang);
    const QFileInfo added(result.DescriptionPath);
    for (int index = 1; index < m_state.PatchList.size(); ++index) {
        if (QFileInfo(m_state.PatchList.at(index)) == added) {
            m_ui->CBPatch->setCurrentIndex(index);
            break;
        }
    }
}

void TForm1::ApplyLanguageTexts() {
    ApplyMainWindowTexts(m_state.LanguageTable, this);
}
