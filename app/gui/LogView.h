// The log pane: the batch's texts as plain text, with the lines a reader
// must not miss (failures, the summary) set apart by colour and weight. A
// copy takes the text alone, so a pasted log reads as the command line's.
#pragma once

#include <QPlainTextEdit>

class LogView : public QPlainTextEdit {
    Q_OBJECT

  public:
    enum class Kind { Plain, Failure, Summary };

    explicit LogView(QWidget* parent = nullptr);

    // Adds `text` at the end, like typing there: any selection goes and the
    // end stays in view.
    void Append(const QString& text, Kind kind);

  protected:
    QMimeData* createMimeDataFromSelection() const override;
};
