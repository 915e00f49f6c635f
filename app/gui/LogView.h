// The log pane: the batch's texts as plain text, with the lines a reader
// must not miss (failures, the summary) set apart by colour and weight. A
// copy takes the text alone, so a pasted log reads as the command line's.
// It can show the failures alone (with the summary): every text is kept,
// so showing all again loses nothing.
#pragma once

#include <QPlainTextEdit>
#include <QString>

#include <vector>

class LogView : public QPlainTextEdit {
    Q_OBJECT

  public:
    enum class Kind { Plain, Failure, Summary };

    explicit LogView(QWidget* parent = nullptr);

    // Adds `text` at the end, like typing there: any selection goes and the
    // end stays in view. Shown at once unless failures alone are shown and
    // it is plain.
    void Append(const QString& text, Kind kind);
    // Forgets every text.
    void Clear();
    bool IsEmpty() const { return entries_.empty(); }

    void SetFailuresOnly(bool failuresOnly);

  protected:
    QMimeData* createMimeDataFromSelection() const override;

  private:
    struct Entry {
        QString text;
        Kind kind;
    };

    bool Shows(Kind kind) const { return !failuresOnly_ || kind != Kind::Plain; }
    void Insert(const QString& text, Kind kind);

    std::vector<Entry> entries_;
    bool failuresOnly_ = false;
};
