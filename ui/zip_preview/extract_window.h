#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>

class QComboBox;
class QFileSystemModel;
class QPushButton;
class QTreeView;
class TextTable;

// "Extract to...": where an archive is unpacked. A place (home, the file system, each mounted
// volume), the folders in it and the path, which may also be typed. Not modal: it answers with
// `answered` when the user extracts, cancels or closes it.
class Extract : public QWidget {
    Q_OBJECT
public:
    Extract(const TextTable& texts, const QString& folder, QWidget* parent = nullptr);

    // Set once the user answered; Answer 1 extracts into `path`, 0 cancels.
    bool Ready = false;
    std::int16_t Answer = 0;
    QString path;

signals:
    void answered();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Drive1_Change();
    void showFolder(const QString& folder);
    void finish(std::int16_t answer, const QString& chosen);

    const TextTable& texts_;
    QComboBox* Combo1 = nullptr;
    QComboBox* Drive1 = nullptr;
    QTreeView* Dir1 = nullptr;
    QFileSystemModel* folders_ = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
};
