// The music change window driven as a user would: real TForm2, real language files and small
// synthetic source images in a temporary program folder, dialogs answered through the hook.

#include "tests/desktop/MusicTestImage.h"

#include "desktop/Language.h"
#include "desktop/TrackList.h"
#include "gui/ChangeMusic.h"
#include "gui/MessageBoxes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr std::int64_t kInfoPosition = 0x2A1;

struct TMessage {
    TMessageKind Kind;
    QString Text;
};

const char* const kEnglishLanguage =
    "Form2Caption=\"Music change (test)\"\r\n"
    "Save=Store\r\n"
    "Cancel=Drop\r\n"
    "CBShowSame=\"Offer only tracks of the same type\"\r\n"
    "CBApplyDirectly=\"Write the music straight into the source image\"\r\n"
    "CBApplyDirectlyHint=\"The source image will be changed.\"\r\n"
    "MainMenu=\"Game selection menu:\"\r\n"
    "WarningUnknownTrack=\"Unknown track, not written:\"\r\n"
    "ErrorReadingTracks=\"Music slots cannot be read.\"\r\n";

const char* const kRussianLanguage =
    "Form2Caption=\"Смена музыки\"\r\n"
    "Save=Сохранить\r\n"
    "Cancel=Отмена\r\n"
    "CBShowSame=\"Предлагать только треки того же типа\"\r\n"
    "CBApplyDirectly=\"Записать музыку прямо в исходный образ\"\r\n"
    "CBApplyDirectlyHint=\"Исходный образ будет изменён.\"\r\n"
    "MainMenu=\"Меню выбора игры:\"\r\n";

QString Cell(TForm2& form, int column, int row) {
    return form.findChild<QTableWidget*>(QStringLiteral("Grid"))->item(row, column)->text();
}

template <typename T> T* Control(TForm2& form, const char* name) {
    T* control = form.findChild<T*>(QLatin1String(name));
    Q_ASSERT(control);
    return control;
}

QStringList Items(const QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items.append(box->itemText(i));
    return items;
}

} // namespace

class TTestChangeMusic : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void defaultListResource();
    void opensWithTextsHeadersAndSlots();
    void textsFit_data();
    void textsFit();
    void missingLanguageKeepsDesignTexts();
    void editorCoversSelectedCell();
    void sharedSlotCellsCoupled_data();
    void sharedSlotCellsCoupled();
    void dropDownLists_data();
    void dropDownLists();
    void typingChangesCellEachKeystroke();
    void cancelKeepsList();
    void saveStoresAssignment();
    void rawIdShownAndReported();
    void directApplyWritesExactBytes();
    void directApplyRefusesChangedImage();
    void directApplyCannotOpen();
    void applyDirectlyWarnsOnEveryClick();
    void patchListWithFewerTracks();

private:
    std::unique_ptr<TForm2> OpenForm(const QString& language = QStringLiteral("English"));
    void ChooseInCell(TForm2& form, int column, int row, const QString& text);
    void SaveWithApplyDirectly(TForm2& form);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_program_folder;
    QString m_image_path;
    QByteArray m_image;
    TSlotIds m_ids;
    TLanguageTable m_table;
    std::unique_ptr<TTrackList> m_list;
    QStringList m_log;
    std::vector<TMessage> m_messages;
};

void TTestChangeMusic::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_program_folder = m_dir->path() + QStringLiteral("/app/");
    QVERIFY(QDir().mkpath(m_program_folder + QStringLiteral("LANG")));
    // Language file names in other letter cases are found all the same.
    QVERIFY(WriteFileBytes(m_program_folder + QStringLiteral("LANG/english.LNG"),
                           QByteArray("\xEF\xBB\xBF") + kEnglishLanguage));
    QVERIFY(WriteFileBytes(m_program_folder + QStringLiteral("LANG/Русский.lng"),
                           QByteArray("\xEF\xBB\xBF") + kRussianLanguage));
    m_ids = DefaultSlotIds();
    m_ids[5] = "BGM999"; // a track no list knows
    m_image = MakeSourceImageBytes(kInfoPosition, m_ids);
    m_image_path = m_dir->filePath(QStringLiteral("source.3ds"));
    QVERIFY(WriteFileBytes(m_image_path, m_image));
    m_list = std::make_unique<TTrackList>(m_image_path, QString(), kInfoPosition,
                                          DefaultTrackListData());
    QCOMPARE(m_list->Status(), TTrackListStatus::Ok);
    m_log.clear();
    m_messages.clear();
    SetMessageHook([this](TMessageKind kind, const QString& text) {
        m_messages.push_back({kind, text});
    });
}

void TTestChangeMusic::cleanup() {
    SetMessageHook(nullptr);
    m_list.reset();
}

std::unique_ptr<TForm2> TTestChangeMusic::OpenForm(const QString& language) {
    auto form = std::make_unique<TForm2>(*m_list, m_table, m_program_folder, language,
                                         [this](const QString& entry) { m_log.append(entry); });
    form->show();
    return form;
}

void TTestChangeMusic::ChooseInCell(TForm2& form, int column, int row, const QString& text) {
    Control<QTableWidget>(form, "Grid")->setCurrentCell(row, column);
    auto* box = Control<QComboBox>(form, "CBSelected");
    box->showPopup();
    const int index = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    QVERIFY2(index >= 0, qPrintable(text));
    box->setCurrentIndex(index);
    box->hidePopup();
}

void TTestChangeMusic::SaveWithApplyDirectly(TForm2& form) {
    QTest::mouseClick(Control<QCheckBox>(form, "CBApplyDirectly"), Qt::LeftButton);
    QVERIFY(Control<QCheckBox>(form, "CBApplyDirectly")->isChecked());
    m_messages.clear();
    QTest::mouseClick(Control<QPushButton>(form, "TntButton4"), Qt::LeftButton);
}

void TTestChangeMusic::defaultListResource() {
    QVERIFY(!DefaultTrackListData().isEmpty());
    const std::span<const std::uint8_t> data = engine::DefaultTrackListBytes();
    const QByteArray bytes(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    QVERIFY(!bytes.endsWith('\n') && !bytes.endsWith('\r'));
    QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));
    QCOMPARE(bytes.count('\r'), bytes.count("\r\n"));

    const std::vector<std::pair<int, QStringList>> groups = {
        {1, {"BGM008", "BGM077", "BGM117"}},           {2, {"BGM013", "BGM069", "BGM118"}},
        {3, {"BGM010", "BGM072", "BGM119"}},           {4, {"BGM005", "BGM071"}},
        {5, {"BGM004", "BGM070", "BGM121"}},           {6, {"BGM011", "BGM073", "BGM120"}},
        {7, {"BGM002", "BGM074", "BGM123", "BGM142"}}, {8, {"BGM024", "BGM078", "BGM122"}},
        {9, {"BGM003", "BGM075", "BGM124", "BGM143"}}, {10, {"BGM025", "BGM065", "BGM126"}},
        {11, {"BGM012", "BGM088", "BGM137"}},          {0, {"BGM200"}}};
    // Line layout: the count, then each group after one blank line.
    const QStringList lines = DefaultTrackListData().split(QStringLiteral("\r\n"));
    QCOMPARE(lines.value(0), QStringLiteral("TrackCount:35"));
    int line = 1;
    for (const auto& [group, ids] : groups) {
        QCOMPARE(lines.value(line++), QString());
        for (const QString& id : ids)
            QVERIFY2(lines.value(line++).startsWith(id + u':'), qPrintable(id));
    }
    QCOMPARE(lines.size(), line);

    int k = 0;
    QSet<QString> titles;
    for (const auto& [group, ids] : groups) {
        for (int j = 0; j < ids.size(); ++j, ++k) {
            QCOMPARE(m_list->GetTrackId(k), ids[j]);
            QCOMPARE(m_list->GetTrackGroup(k), group);
            const QString title = m_list->GetTrackTitle(k);
            QVERIFY2(title.size() >= 15 && title.size() <= 40, qPrintable(title));
            titles.insert(title);
            if (group == 0)
                continue;
            const char* year = j == 0       ? " 2001"
                               : j >= 2     ? " 2004"
                               : group == 4 ? " 2002/2004"
                                            : " 2002";
            QVERIFY2(title.endsWith(QLatin1String(year)), qPrintable(title));
            // Only the year tells the versions apart: nothing else ends in a year.
            QVERIFY(!title.chopped(qstrlen(year)).contains(QStringLiteral("200")));
        }
    }
    QCOMPARE(k, 35);
    QCOMPARE(titles.size(), 35);
}

void TTestChangeMusic::opensWithTextsHeadersAndSlots() {
    auto form = OpenForm();
    QVERIFY(m_messages.empty());
    QCOMPARE(form->windowTitle(), QStringLiteral("Music change (test)"));
    QCOMPARE(Control<QPushButton>(*form, "TntButton4")->text(), QStringLiteral("Store"));
    QCOMPARE(Control<QPushButton>(*form, "TntButton5")->text(), QStringLiteral("Drop"));
    QCOMPARE(Control<QLabel>(*form, "TntLabel1")->text(), QStringLiteral("Game selection menu:"));
    QCOMPARE(Control<QCheckBox>(*form, "CBApplyDirectly")->toolTip(),
             QStringLiteral("The source image will be changed."));
    QVERIFY(Control<QCheckBox>(*form, "CBShowSame")->isChecked());
    QVERIFY(!Control<QCheckBox>(*form, "CBApplyDirectly")->isChecked());
    QCOMPARE(form->minimumSize(), QSize(906, 325));
    QCOMPARE(form->maximumSize(), QSize(906, 325));

    const QString indent(16, u' ');
    QCOMPARE(Cell(*form, 0, 0), QStringLiteral(" Title"));
    QCOMPARE(Cell(*form, 1, 0), indent + QStringLiteral("Veridane 1 (2001)"));
    QCOMPARE(Cell(*form, 3, 0), indent + QStringLiteral("Veridane 3 (2004)"));
    QCOMPARE(Cell(*form, 0, 1), QStringLiteral(" Dawn over Veridane"));
    QCOMPARE(Cell(*form, 0, 4), QStringLiteral(" Quiet Rooms of the Inn"));
    QCOMPARE(Cell(*form, 0, 11), QStringLiteral(" Stars over the Valley"));

    // Slots fill the grid row by row; the raw id of slot 5 shows as it is.
    for (int s = 0; s < 33; ++s)
        QCOMPARE(Cell(*form, 1 + s % 3, 1 + s / 3), m_list->GetSlotTrack(s));
    QCOMPARE(Cell(*form, 3, 2), QStringLiteral("BGM999"));
    auto* menu = Control<QComboBox>(*form, "CB33");
    QCOMPARE(menu->currentText(), QStringLiteral("Chronicle Selection Theme"));
    QCOMPARE(menu->currentIndex(), 34);
}

void TTestChangeMusic::textsFit_data() {
    QTest::addColumn<QString>("language");
    QTest::newRow("English") << QStringLiteral("English");
    QTest::newRow("Russian") << QStringLiteral("Русский");
}

void TTestChangeMusic::textsFit() {
    QFETCH(QString, language);
    auto form = OpenForm(language);
    QVERIFY(m_messages.empty());
    for (const char* name : {"CBShowSame", "CBApplyDirectly", "TntButton4", "TntButton5"}) {
        auto* control = Control<QAbstractButton>(*form, name);
        QVERIFY2(control->sizeHint().width() <= control->width(), name);
    }
    auto* label = Control<QLabel>(*form, "TntLabel1");
    QVERIFY(label->sizeHint().width() <= label->width());
    QVERIFY(label->sizeHint().height() <= label->height() + 2);
    // Row captions fit the first column.
    auto* grid = Control<QTableWidget>(*form, "Grid");
    for (int r = 1; r < 12; ++r)
        QVERIFY(grid->fontMetrics().horizontalAdvance(Cell(*form, 0, r)) < grid->columnWidth(0));
}

void TTestChangeMusic::missingLanguageKeepsDesignTexts() {
    auto form = OpenForm(QStringLiteral("Klingon"));
    QCOMPARE(m_messages.size(), std::size_t(1));
    QCOMPARE(m_messages[0].Kind, TMessageKind::LanguageMissing);
    QCOMPARE(m_messages[0].Text,
             QStringLiteral("Отсутствуют языковые файлы.\r\nLanguage files are missing."));
    QCOMPARE(form->windowTitle(), QStringLiteral("Music change"));
    QCOMPARE(Control<QPushButton>(*form, "TntButton4")->text(), QStringLiteral("Save"));
    QCOMPARE(Control<QCheckBox>(*form, "CBShowSame")->text(),
             QStringLiteral("Show same type tracks only"));
    // The grid is filled all the same.
    QCOMPARE(Cell(*form, 1, 1), QStringLiteral("Dawn over Veridane 2001"));
}

void TTestChangeMusic::editorCoversSelectedCell() {
    auto form = OpenForm();
    auto* grid = Control<QTableWidget>(*form, "Grid");
    auto* box = Control<QComboBox>(*form, "CBSelected");
    const auto cell_rect = [&](int column, int row) {
        const QRect cell = grid->visualItemRect(grid->item(row, column));
        return QRect(grid->viewport()->mapTo(form.get(), cell.topLeft()),
                     cell.size() - QSize(1, 1));
    };
    QCOMPARE(box->geometry(), cell_rect(1, 1));
    QCOMPARE(box->currentText(), Cell(*form, 1, 1));
    grid->setCurrentCell(7, 3);
    QCOMPARE(box->geometry(), cell_rect(3, 7));
    QCOMPARE(box->currentText(), Cell(*form, 3, 7));
    QVERIFY(box->geometry().intersects(grid->geometry()));
    // Header cells are not selected: the editor stays where it was.
    grid->setCurrentCell(0, 2);
    QCOMPARE(grid->currentRow(), 7);
    QCOMPARE(grid->currentColumn(), 3);
    grid->setCurrentCell(5, 0);
    QCOMPARE(box->geometry(), cell_rect(3, 7));
    // Selecting does not change any cell.
    for (int s = 0; s < 33; ++s)
        QCOMPARE(Cell(*form, 1 + s % 3, 1 + s / 3), m_list->GetSlotTrack(s));
}

void TTestChangeMusic::sharedSlotCellsCoupled_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("other");
    QTest::newRow("(2, 4) to (3, 4)") << 2 << 3;
    QTest::newRow("(3, 4) to (2, 4)") << 3 << 2;
}

void TTestChangeMusic::sharedSlotCellsCoupled() {
    QFETCH(int, column);
    QFETCH(int, other);
    auto form = OpenForm();
    ChooseInCell(*form, column, 4, QStringLiteral("Quiet Rooms of the Inn 2001"));
    QCOMPARE(Cell(*form, column, 4), QStringLiteral("Quiet Rooms of the Inn 2001"));
    QCOMPARE(Cell(*form, other, 4), QStringLiteral("Quiet Rooms of the Inn 2001"));
    QCOMPARE(Cell(*form, 1, 4), QStringLiteral("Quiet Rooms of the Inn 2001")); // as before
    // No other cell is coupled.
    ChooseInCell(*form, column, 5, QStringLiteral("Roads Beyond the Wall 2001"));
    QCOMPARE(Cell(*form, other, 5), m_list->GetSlotTrack(12 + other - 1));
}

void TTestChangeMusic::dropDownLists_data() {
    QTest::addColumn<bool>("show_same");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("same type, row 7")
        << true << 2 << 7
        << QStringList{"Skirmish at the Ford 2001", "Skirmish at the Ford 2002",
                       "Skirmish at the Ford 2004", "Skirmish at the Ford, Second Wind 2004"};
    QTest::newRow("same type, row 4")
        << true << 1 << 4
        << QStringList{"Quiet Rooms of the Inn 2001", "Quiet Rooms of the Inn 2002/2004"};
    QTest::newRow("all, row 7") << false << 2 << 7 << QStringList{};
}

void TTestChangeMusic::dropDownLists() {
    QFETCH(bool, show_same);
    QFETCH(int, column);
    QFETCH(int, row);
    QFETCH(QStringList, expected);
    auto form = OpenForm();
    QStringList all;
    for (int i = 0; i < m_list->GetTrackCount(); ++i)
        all.append(m_list->GetTrackTitle(i));
    if (expected.isEmpty())
        expected = all;

    Control<QCheckBox>(*form, "CBShowSame")->setChecked(show_same);
    Control<QTableWidget>(*form, "Grid")->setCurrentCell(row, column);
    auto* box = Control<QComboBox>(*form, "CBSelected");
    const QString shown = box->currentText();
    box->showPopup();
    QCOMPARE(Items(box), expected);
    // Refilling the list neither changes the text nor the cell.
    QCOMPARE(box->currentText(), shown);
    QCOMPARE(Cell(*form, column, row), shown);
    box->hidePopup();
    // The menu box always offers every title.
    auto* menu = Control<QComboBox>(*form, "CB33");
    QCOMPARE(Items(menu), all);
    menu->showPopup();
    QCOMPARE(Items(menu), all);
    menu->hidePopup();
}

void TTestChangeMusic::typingChangesCellEachKeystroke() {
    auto form = OpenForm();
    Control<QTableWidget>(*form, "Grid")->setCurrentCell(5, 1);
    QLineEdit* edit = Control<QComboBox>(*form, "CBSelected")->lineEdit();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Z);
    QCOMPARE(Cell(*form, 1, 5), QStringLiteral("z"));
    QTest::keyClicks(edit, QStringLiteral("ed"));
    QCOMPARE(Cell(*form, 1, 5), QStringLiteral("zed"));
    QTest::keyClick(edit, Qt::Key_Return); // no list entry is added, nothing is saved
    QCOMPARE(Control<QComboBox>(*form, "CBSelected")->count(), 35);
    QVERIFY(form->isVisible());
    QVERIFY(!m_list->GetChanged());
}

void TTestChangeMusic::cancelKeepsList() {
    auto form = OpenForm();
    Control<QCheckBox>(*form, "CBShowSame")->setChecked(false);
    ChooseInCell(*form, 1, 1, QStringLiteral("Harbor at Dusk 2001"));
    Control<QComboBox>(*form, "CB33")->setEditText(QStringLiteral("Harbor at Dusk 2002"));
    QTest::mouseClick(Control<QPushButton>(*form, "TntButton5"), Qt::LeftButton);
    QCOMPARE(form->result(), int(QDialog::Rejected));
    QVERIFY(!form->isVisible());
    QVERIFY(!m_list->GetChanged());
    QCOMPARE(m_list->GetSlotTrack(0), QStringLiteral("Dawn over Veridane 2001"));
    QCOMPARE(m_list->GetSlotTrack(33), QStringLiteral("Chronicle Selection Theme"));
    // Reopening rebuilds the grid from the list.
    auto again = OpenForm();
    QCOMPARE(Cell(*again, 1, 1), QStringLiteral("Dawn over Veridane 2001"));
}

void TTestChangeMusic::saveStoresAssignment() {
    std::array<QString, kMusicSlotCount> before;
    for (int s = 0; s < kMusicSlotCount; ++s)
        before[s] = m_list->GetSlotTrack(s);
    {
        // Saving without a change still sets the flag.
        auto form = OpenForm();
        QTest::mouseClick(Control<QPushButton>(*form, "TntButton4"), Qt::LeftButton);
        QCOMPARE(form->result(), int(QDialog::Accepted));
        QVERIFY(m_list->GetChanged());
        for (int s = 0; s < kMusicSlotCount; ++s)
            QCOMPARE(m_list->GetSlotTrack(s), before[s]);
    }
    auto form = OpenForm();
    Control<QCheckBox>(*form, "CBShowSame")->setChecked(false);
    ChooseInCell(*form, 3, 11, QStringLiteral("Harbor at Dusk 2004"));
    Control<QComboBox>(*form, "CB33")->setEditText(QStringLiteral("Harbor at Dusk 2002"));
    QTest::mouseClick(Control<QPushButton>(*form, "TntButton4"), Qt::LeftButton);
    QCOMPARE(m_list->GetSlotTrack(32), QStringLiteral("Harbor at Dusk 2004"));
    QCOMPARE(m_list->GetSlotTrack(33), QStringLiteral("Harbor at Dusk 2002"));
    QCOMPARE(m_list->GetSlotTrack(31), before[31]);
    // Without CBApplyDirectly the source image is left alone.
    QCOMPARE(ReadFileBytes(m_image_path), m_image);
    QVERIFY(m_log.isEmpty());
}

void TTestChangeMusic::rawIdShownAndReported() {
    auto form = OpenForm();
    QCOMPARE(Cell(*form, 3, 2), QStringLiteral("BGM999"));
    SaveWithApplyDirectly(*form);
    QVERIFY(m_messages.empty());
    QCOMPARE(form->result(), int(QDialog::Accepted));
    QCOMPARE(m_log, QStringList{"Unknown track, not written:\r\nBGM999"});
    // Every other slot is rewritten with the id it already held.
    QCOMPARE(ReadFileBytes(m_image_path), m_image);
}

void TTestChangeMusic::directApplyWritesExactBytes() {
    auto form = OpenForm();
    ChooseInCell(*form, 3, 4, QStringLiteral("Quiet Rooms of the Inn 2001")); // slots 11 and 10
    ChooseInCell(*form, 3, 2, QStringLiteral("Harbor at Dusk 2004"));         // slot 5, was raw
    Control<QCheckBox>(*form, "CBShowSame")->setChecked(false);
    ChooseInCell(*form, 1, 1, QStringLiteral("Harbor at Dusk 2001"));       // slot 0
    ChooseInCell(*form, 2, 9, QStringLiteral("Chronicle Selection Theme")); // slot 25
    Control<QComboBox>(*form, "CB33")->setEditText(QStringLiteral("Dawn over Veridane 2004"));
    SaveWithApplyDirectly(*form);
    QVERIFY(m_messages.empty());
    QVERIFY(m_log.isEmpty());
    QCOMPARE(form->result(), int(QDialog::Accepted));
    TSlotIds expected = m_ids;
    expected[0] = "BGM013";
    expected[10] = "BGM005";
    expected[5] = "BGM118";
    expected[25] = "BGM200";
    expected[33] = "BGM117";
    QCOMPARE(ReadFileBytes(m_image_path), MakeSourceImageBytes(kInfoPosition, expected));
}

void TTestChangeMusic::directApplyRefusesChangedImage() {
    auto form = OpenForm();
    QByteArray replaced = m_image;
    replaced.replace(kInfoPosition, 4, "STRG");
    QVERIFY(WriteFileBytes(m_image_path, replaced));
    Control<QCheckBox>(*form, "CBShowSame")->setChecked(false);
    ChooseInCell(*form, 1, 1, QStringLiteral("Harbor at Dusk 2001"));
    SaveWithApplyDirectly(*form);
    QCOMPARE(m_messages.size(), std::size_t(1));
    QCOMPARE(m_messages[0].Kind, TMessageKind::Error);
    QCOMPARE(m_messages[0].Text, QStringLiteral("Music slots cannot be read."));
    QCOMPARE(ReadFileBytes(m_image_path), replaced);
    QVERIFY(form->isVisible());
    QVERIFY(m_log.isEmpty());
    // The assignment itself is stored for the install run.
    QVERIFY(m_list->GetChanged());
    QCOMPARE(m_list->GetSlotTrack(0), QStringLiteral("Harbor at Dusk 2001"));
}

void TTestChangeMusic::directApplyCannotOpen() {
    auto form = OpenForm();
    QVERIFY(QFile::remove(m_image_path));
    SaveWithApplyDirectly(*form);
    QCOMPARE(m_messages.size(), std::size_t(1));
    QCOMPARE(m_messages[0].Kind, TMessageKind::Error);
    const QString prefix =
        QStringLiteral("Cannot open file \"%1\". ").arg(QDir::toNativeSeparators(m_image_path));
    QVERIFY2(m_messages[0].Text.startsWith(prefix), qPrintable(m_messages[0].Text));
    QVERIFY(m_messages[0].Text.size() > prefix.size());
    QVERIFY(!QFile::exists(m_image_path));
    QVERIFY(form->isVisible());
    QVERIFY(m_list->GetChanged());
}

void TTestChangeMusic::applyDirectlyWarnsOnEveryClick() {
    auto form = OpenForm();
    auto* box = Control<QCheckBox>(*form, "CBApplyDirectly");
    QTest::mouseClick(box, Qt::LeftButton);
    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(!box->isChecked());
    QCOMPARE(m_messages.size(), std::size_t(2));
    for (const TMessage& message : m_messages) {
        QCOMPARE(message.Kind, TMessageKind::Warning);
        QCOMPARE(message.Text, QStringLiteral("The source image will be changed."));
    }
}

void TTestChangeMusic::patchListWithFewerTracks() {
    const QString folder = m_dir->filePath(QStringLiteral("patch/Remix"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(WriteFileBytes(folder + QStringLiteral("/TrackList.TLS"),
                           "TrackCount:3\r\n\r\nBGM008:\"Dawn, Remixed 2001\":1\r\n"
                           "BGM077:\"Dawn, Remixed 2002\":1\r\n\r\n"
                           "BGM200:\"Menu, Remixed\":0"));
    m_list =
        std::make_unique<TTrackList>(m_image_path, folder, kInfoPosition, DefaultTrackListData());
    QCOMPARE(m_list->Status(), TTrackListStatus::Ok);
    auto form = OpenForm();
    QCOMPARE(Items(Control<QComboBox>(*form, "CB33")),
             (QStringList{"Dawn, Remixed 2001", "Dawn, Remixed 2002", "Menu, Remixed"}));
    QCOMPARE(Cell(*form, 1, 1), QStringLiteral("Dawn, Remixed 2001"));
    QCOMPARE(Cell(*form, 3, 1), QStringLiteral("BGM117"));
    // Row captions always come from the embedded list.
    QCOMPARE(Cell(*form, 0, 1), QStringLiteral(" Dawn over Veridane"));
    Control<QTableWidget>(*form, "Grid")->setCurrentCell(2, 2);
    auto* box = Control<QComboBox>(*form, "CBSelected");
    box->showPopup();
    QVERIFY(Items(box).isEmpty()); // the list has no track of group 2
    box->hidePopup();
}

QTEST_MAIN(TTestChangeMusic)
#include "TestChangeMusic.moc"
