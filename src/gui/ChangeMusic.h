#pragma once
// The music change window: the 34 music slots of the track list as a grid of scenes by game,
// saved back into the track list and, when asked, written straight into the source image.

#include <QComboBox>
#include <QDialog>

#include <functional>
#include <memory>

namespace Ui {
class TForm2;
}
class TLanguageTable;
class TTrackList;

/// An editable combo box that tells when its list is about to open, so that the list can be
/// filled for the cell it edits just before it is shown.
class TDropDownComboBox : public QComboBox {
    Q_OBJECT

public:
    using QComboBox::QComboBox;
    void showPopup() override;

signals:
    void DropDown();
};

/// Loads the language file `name` of `program_folder` into `table` and sets the music window's
/// texts by control name. On failure shows the missing-language message, leaves the window's
/// texts as they are and returns -1; 0 on success.
int LoadMusicWindowLanguage(const QString& name, TLanguageTable& table,
                            const QString& program_folder, QWidget* window);

class TForm2 : public QDialog {
    Q_OBJECT

public:
    /// `list`, `table` and the callback are the main window's and must outlive the window;
    /// `add_log` appends an entry to the main window's log.
    TForm2(TTrackList& list, TLanguageTable& table, const QString& program_folder,
           const QString& language_name, std::function<void(const QString&)> add_log,
           QWidget* parent = nullptr);
    ~TForm2() override;

    // Event handlers.
    void FormShow();
    void GridSelectCell(int column, int row);
    void CBSelectedDropDown();
    void CBSelectedChange();
    void CBApplyDirectlyClick();
    void TntButton4Click();
    void TntButton5Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ConnectWidgetEvents();
    void SetUpGrid();
    void SetFixedHeaders();
    QString CellText(int column, int row) const;
    void SetCellText(int column, int row, const QString& text);

    std::unique_ptr<Ui::TForm2> m_ui;
    TTrackList& m_list;
    TLanguageTable& m_table;
    QString m_program_folder;
    QString m_language_name;
    std::function<void(const QString&)> m_add_log;
};
