#include "gui/ChangeMusic.h"

#include "desktop/Language.h"
#include "desktop/TrackList.h"
#include "gui/MessageBoxes.h"

#include "ui_ChangeMusic.h"

#include <QDir>
#include <QFile>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTableWidgetItem>

namespace {

// Client area of the window, fixed.
constexpr int kWindowWidth = 906;
constexpr int kWindowHeight = 325;
// The grid: one fixed header row and column, 11 track groups by 3 games.
constexpr int kGridColumns = 4;
constexpr int kGridRows = 12;
constexpr int kGridColumnWidth = 220;
constexpr int kGridRowHeight = 20;
// Slots 10 and 11 share one place in the sound archive; their cells always agree.
constexpr int kSharedSlotRow = 4;
constexpr int kSharedSlotFirstColumn = 2;
constexpr int kSharedSlotSecondColumn = 3;
constexpr int kMenuSlot = 33;
constexpr int kMusicHintDuration = 20000; // ms a tooltip stays visible, as in the main window

const char* const kLanguageMissingText =
    "Отсутствуют языковые файлы.\r\nLanguage files are missing.";

template <typename T> void SetControlText(QWidget* window, const char* name, const QString& text) {
    if (auto* control = window->findChild<T*>(QLatin1String(name)))
        control->setText(text);
}

} // namespace

void TDropDownComboBox::showPopup() {
    emit DropDown();
    QComboBox::showPopup();
}

int LoadMusicWindowLanguage(const QString& name, TLanguageTable& table,
                            const QString& program_folder, QWidget* window) {
    if (!table.LoadFile(LanguageFilePath(program_folder, name))) {
        ShowMessage(window, TMessageKind::LanguageMissing, QString::fromUtf8(kLanguageMissingText));
        return -1;
    }
    window->setWindowTitle(table.Lookup(QStringLiteral("Form2Caption")));
    SetControlText<QAbstractButton>(window, "TntButton4", table.Lookup(QStringLiteral("Save")));
    SetControlText<QAbstractButton>(window, "TntButton5", table.Lookup(QStringLiteral("Cancel")));
    SetControlText<QAbstractButton>(window, "CBShowSame",
                                    table.Lookup(QStringLiteral("CBShowSame")));
    SetControlText<QAbstractButton>(window, "CBApplyDirectly",
                                    table.Lookup(QStringLiteral("CBApplyDirectly")));
    if (auto* box = window->findChild<QWidget*>(QStringLiteral("CBApplyDirectly"))) {
        box->setToolTip(table.Lookup(QStringLiteral("CBApplyDirectlyHint")));
        // As long as the main window shows its hints: the text takes a while to read.
        box->setToolTipDuration(kMusicHintDuration);
    }
    SetControlText<QLabel>(window, "TntLabel1", table.Lookup(QStringLiteral("MainMenu")));
    return 0;
}

TForm2::TForm2(TTrackList& list, TLanguageTable& table, const QString& program_folder,
               const QString& language_name, std::function<void(const QString&)> add_log,
               QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::TForm2>()), m_list(list), m_table(table),
      m_program_folder(program_folder), m_language_name(language_name),
      m_add_log(std::move(add_log)) {
    m_ui->setupUi(this);
    // Fixed single border, system menu and minimise button, and the close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kWindowWidth, kWindowHeight);

    // The floating editor: flat, on the button-highlight colour, above the grid.
    QPalette palette = m_ui->CBSelected->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Light));
    m_ui->CBSelected->setPalette(palette);
    m_ui->CBSelected->raise();
    // Typed texts stay as typed: no completion into a title, no new list entries.
    m_ui->CBSelected->setCompleter(nullptr);
    m_ui->CB33->setCompleter(nullptr);

    SetUpGrid();
    ConnectWidgetEvents();
}

TForm2::~TForm2() = default;

void TForm2::SetUpGrid() {
    QTableWidget* grid = m_ui->Grid;
    grid->setColumnCount(kGridColumns);
    grid->setRowCount(kGridRows);
    grid->horizontalHeader()->setMinimumSectionSize(1);
    grid->verticalHeader()->setMinimumSectionSize(1);
    grid->horizontalHeader()->setDefaultSectionSize(kGridColumnWidth);
    grid->verticalHeader()->setDefaultSectionSize(kGridRowHeight);
    const QBrush fixed_brush = grid->palette().button();
    for (int r = 0; r < kGridRows; ++r) {
        for (int c = 0; c < kGridColumns; ++c) {
            auto* item = new QTableWidgetItem();
            if (r == 0 || c == 0) {
                // Header cells: shown, never selected.
                item->setFlags(Qt::ItemIsEnabled);
                item->setBackground(fixed_brush);
            } else {
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            }
            grid->setItem(r, c, item);
        }
    }
}

void TForm2::ConnectWidgetEvents() {
    connect(m_ui->Grid, &QTableWidget::currentCellChanged, this,
            [this](int row, int column, int previous_row, int previous_column) {
                if (row >= 1 && column >= 1) {
                    GridSelectCell(column, row);
                    return;
                }
                if (row < 0 || column < 0)
                    return;
                // A header cell cannot be selected: stay on the cell selected before.
                if (previous_row >= 1 && previous_column >= 1)
                    m_ui->Grid->setCurrentCell(previous_row, previous_column);
                else
                    m_ui->Grid->setCurrentCell(1, 1);
            });
    connect(m_ui->CBSelected, &TDropDownComboBox::DropDown, this, &TForm2::CBSelectedDropDown);
    connect(m_ui->CBSelected, &QComboBox::editTextChanged, this, &TForm2::CBSelectedChange);
    connect(m_ui->CBApplyDirectly, &QCheckBox::clicked, this, &TForm2::CBApplyDirectlyClick);
    connect(m_ui->TntButton4, &QPushButton::clicked, this, &TForm2::TntButton4Click);
    connect(m_ui->TntButton5, &QPushButton::clicked, this, &TForm2::TntButton5Click);
}

QString TForm2::CellText(int column, int row) const {
    return m_ui->Grid->item(row, column)->text();
}

void TForm2::SetCellText(int column, int row, const QString& text) {
    m_ui->Grid->item(row, column)->setText(text);
}

void TForm2::showEvent(QShowEvent* event) {
    // A window restored from the task bar is shown again by the system; it is not reopened.
    if (!event->spontaneous())
        FormShow();
    QDialog::showEvent(event);
}

void TForm2::FormShow() {
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());

    QStringList titles;
    for (int i = 0; i < m_list.GetTrackCount(); ++i)
        titles.append(m_list.GetTrackTitle(i));
    {
        const QSignalBlocker block_menu(m_ui->CB33);
        const QSignalBlocker block_selected(m_ui->CBSelected);
        m_ui->CB33->clear();
        m_ui->CBSelected->clear();
        m_ui->CB33->addItems(titles);
        m_ui->CBSelected->addItems(titles);
        // A raw id read from the image matches no item and shows as it is.
        const QString menu_track = m_list.GetSlotTrack(kMenuSlot);
        m_ui->CB33->setCurrentIndex(m_ui->CB33->findText(menu_track, Qt::MatchFixedString));
        m_ui->CB33->setEditText(menu_track);
    }

    int slot = 0;
    for (int r = 1; r < kGridRows; ++r) {
        for (int c = 1; c < m_ui->Grid->columnCount(); ++c)
            SetCellText(c, r, m_list.GetSlotTrack(slot++));
    }

    {
        const QSignalBlocker block_grid(m_ui->Grid);
        m_ui->Grid->setCurrentCell(1, 1);
    }
    GridSelectCell(1, 1);
    SetFixedHeaders();
    LoadMusicWindowLanguage(m_language_name, m_table, m_program_folder, this);
}

void TForm2::SetFixedHeaders() {
    const QString indent(16, u' ');
    SetCellText(0, 0, QStringLiteral(" Title"));
    SetCellText(1, 0, indent + QStringLiteral("Veridane 1 (2001)"));
    SetCellText(2, 0, indent + QStringLiteral("Veridane 2 (2002)"));
    SetCellText(3, 0, indent + QStringLiteral("Veridane 3 (2004)"));
    const QStringList groups = TrackGroupNames(DefaultTrackListData());
    for (int g = 1; g < kGridRows; ++g)
        SetCellText(0, g, u' ' + groups.value(g - 1));
}

void TForm2::GridSelectCell(int column, int row) {
    QTableWidget* grid = m_ui->Grid;
    QRect cell = grid->visualItemRect(grid->item(row, column));
    // The grid draws its lines on the cell's last column and row of pixels; leave them visible.
    if (grid->showGrid())
        cell.adjust(0, 0, -1, -1);
    m_ui->CBSelected->setGeometry(
        QRect(grid->viewport()->mapTo(this, cell.topLeft()), cell.size()));
    const QSignalBlocker block(m_ui->CBSelected);
    m_ui->CBSelected->setEditText(CellText(column, row));
}

void TForm2::CBSelectedDropDown() {
    TDropDownComboBox* box = m_ui->CBSelected;
    const int row = m_ui->Grid->currentRow();
    const QString text = box->currentText();
    const QSignalBlocker block(box);
    box->clear();
    if (m_ui->CBShowSame->isChecked()) {
        for (int i = 0; i < m_list.GetTrackCount(); ++i) {
            if (m_list.GetTrackGroup(i) == row)
                box->addItem(m_list.GetTrackTitle(i));
        }
    } else {
        for (int i = 0; i < m_ui->CB33->count(); ++i)
            box->addItem(m_ui->CB33->itemText(i));
    }
    // Refilling the list keeps what the cell shows; the list opens on its entry.
    box->setCurrentIndex(box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
    box->setEditText(text);
}

void TForm2::CBSelectedChange() {
    const int row = m_ui->Grid->currentRow();
    const int column = m_ui->Grid->currentColumn();
    if (row < 1 || column < 1)
        return;
    const QString text = m_ui->CBSelected->currentText();
    SetCellText(column, row, text);
    if (row == kSharedSlotRow && column == kSharedSlotFirstColumn)
        SetCellText(kSharedSlotSecondColumn, row, text);
    else if (row == kSharedSlotRow && column == kSharedSlotSecondColumn)
        SetCellText(kSharedSlotFirstColumn, row, text);
}

void TForm2::CBApplyDirectlyClick() {
    ShowMessage(this, TMessageKind::Warning, m_table.Lookup(QStringLiteral("CBApplyDirectlyHint")));
}

void TForm2::TntButton4Click() {
    int slot = 0;
    for (int r = 1; r < kGridRows; ++r) {
        for (int c = 1; c < m_ui->Grid->columnCount(); ++c)
            m_list.SetSlotTrack(slot++, CellText(c, r));
    }
    m_list.SetSlotTrack(kMenuSlot, m_ui->CB33->currentText());
    m_list.SetChanged(true);

    if (m_ui->CBApplyDirectly->isChecked()) {
        const TDirectApplyResult result = ApplySlotsToSourceImage(m_list);
        const QString path = m_list.GetSourcePath();
        switch (result.Status) {
        case TDirectApplyStatus::Ok:
        case TDirectApplyStatus::CannotWrite:
            for (const QString& text : result.UnknownTexts)
                m_add_log(m_table.Lookup(QStringLiteral("WarningUnknownTrack")) +
                          QStringLiteral("\r\n") + text);
            break;
        case TDirectApplyStatus::SourceEncrypted:
            ShowMessage(this, TMessageKind::Error,
                        m_table.Lookup(QStringLiteral("ErrorApplyDirectlyEncrypted")));
            return;
        case TDirectApplyStatus::SourceCompressed:
            ShowMessage(this, TMessageKind::Error,
                        m_table.Lookup(QStringLiteral("ErrorApplyDirectlyCompressed")));
            return;
        case TDirectApplyStatus::ErrorReadingTracks:
            ShowMessage(this, TMessageKind::Error,
                        m_table.Lookup(QStringLiteral("ErrorReadingTracks")));
            return;
        case TDirectApplyStatus::CannotOpen:
            ShowMessage(this, TMessageKind::Error,
                        QStringLiteral("Cannot open file \"%1\". %2")
                            .arg(QDir::toNativeSeparators(path), result.Reason));
            return;
        }
        if (result.Status == TDirectApplyStatus::CannotWrite) {
            ShowMessage(this, TMessageKind::Error,
                        QStringLiteral("Cannot write file \"%1\". %2")
                            .arg(QDir::toNativeSeparators(path), result.Reason));
            return;
        }
    }
    accept();
}

void TForm2::TntButton5Click() {
    reject();
}
