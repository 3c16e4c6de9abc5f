// A read-only view of a LogText that paints only the lines on screen, so a
// log of millions of lines scrolls as lightly as one of ten. Lines are laid
// out on a grid of equal cells (one per character, in the fixed-width font),
// which keeps painting, hit-testing and selection arithmetic instead of text
// layout. Selection and copy by mouse and keyboard, jump to the end, find
// with highlighting.
//
// The code is split along the view's jobs: log_text_view.cpp (the text, its
// lines and scrolling), log_text_view_paint.cpp, log_text_view_select.cpp
// (caret, selection, copy, keys and mouse) and log_text_view_find.cpp.
#pragma once

#include <QAbstractScrollArea>
#include <QString>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <unordered_map>

#include "desktop/logview/log_lines.h"
#include "desktop/logview/log_search.h"
#include "desktop/logview/log_text.h"

namespace orvalin {

class LogTextView : public QAbstractScrollArea {
    Q_OBJECT

  public:
    explicit LogTextView(QWidget* parent = nullptr);

    // Shows text from its first line (nothing for nullptr); the selection
    // and the current match are dropped. The text may still be growing:
    // TakeNewLines brings the view up to date.
    void SetText(std::shared_ptr<const LogText> text);
    const std::shared_ptr<const LogText>& Text() const { return text_; }
    // Takes the lines indexed since the last call: the scroll bars grow and
    // new lines on screen are painted. Follows the end after JumpToEnd.
    void TakeNewLines();

    qint64 LineCount() const { return lineCount_; }
    qint64 FirstVisibleLine() const;
    // Whole or partial lines the viewport has room for.
    int RowsOnScreen() const;

    // A line as shown (see ShownLine): of a line longer than the text's
    // window, the window; empty past the end.
    QString LineText(qint64 line) const;
    // Whether the line is longer than what is shown of it.
    bool LineIsCut(qint64 line) const;
    // Where the character at position is drawn, in viewport coordinates.
    QRect CellRect(TextPosition position) const;

    TextPosition Caret() const { return caret_; }
    bool HasSelection() const { return anchor_ != caret_; }
    QString SelectedText() const;
    void SelectAll();
    // Selects from the anchor kept so far (or from the caret) to position.
    void MoveCaret(TextPosition position, bool extendSelection);
    // False when the selection could not be copied (too big for memory).
    bool CopySelection();
    // The last line on screen and the caret on it; the view then keeps the
    // newest lines on screen as more arrive, until the user scrolls up.
    void JumpToEnd();

    // Matches of term are highlighted on screen.
    void SetHighlight(const QString& term);
    // Looks for the next (or previous) match of term after (before) the
    // selection; a match is selected and scrolled into view, and findEnded
    // tells the result. A find that has not ended after kFindWait goes on
    // off the GUI thread: FindProgress tells how far it has come, CancelFind
    // stops it, and findEnded comes once it ends. True when it ended at once.
    bool StartFind(const QString& term, bool backward);
    // The same, returning once the find has ended.
    std::optional<FoundText> Find(const QString& term, bool backward);
    bool FindRunning() const { return findJob_ != nullptr; }
    double FindProgress() const;
    // Stops the find that runs, if any; no findEnded comes for it.
    void CancelFind();
    // The errno of a log that became unreadable (see logChanged).
    int ChangeError() const { return text_ ? text_->ChangeError() : 0; }
    // Runs on a find's thread after each of its reads (a seam for tests).
    void SetFindHook(std::function<void()> afterRead) { findHook_ = std::move(afterRead); }

    static constexpr std::chrono::milliseconds kFindWait{100};

  signals:
    // After each paint: how many lines of text it drew.
    void painted(int linesDrawn);
    // Something could not be done for want of memory; the view goes on.
    void outOfMemory();
    // A find has ended: the match it selected, or nothing.
    void findEnded(std::optional<FoundText> found);
    // A read noticed that the log changed since it was indexed (the worst
    // change so far; see LogChange).
    void logChanged(LogChange change);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    // One line as the view shows it.
    struct ShownText {
        QString shown;
        LineLook look;
        std::uint64_t length = 0;  // the whole line's bytes
        bool cut = false;
    };

    // Runs work; an allocation that fails in it drops the lines kept and
    // says so (outOfMemory) instead of ending the program.
    template <typename Work>
    void Guarded(Work&& work) {
        try {
            work();
        } catch (const std::bad_alloc&) {
            lines_.clear();
            emit outOfMemory();
        }
    }

    // log_text_view.cpp
    const ShownText& Line(qint64 line) const;
    void LoadLines(qint64 first, qint64 end) const;
    // Each line of [first, end) as shown, read afresh and not kept.
    void ForEachShown(qint64 first, qint64 end,
                      const std::function<void(qint64, const QString&)>& visit) const;
    void UpdateMetrics();
    void UpdateScrollBars();
    void EnsureVisible(TextPosition position);
    int FullRows() const;
    qsizetype LineLength(qint64 line) const;
    // log_text_view_select.cpp
    TextPosition Clamped(TextPosition position) const;
    TextPosition PositionAt(QPoint point) const;
    bool HandleMove(QKeyEvent* event);
    // Tells logChanged when reads have noticed a change not told yet.
    void TellChange();
    // log_text_view_find.cpp
    void TakeFindResult();
    void SelectFound(const FoundText& found);
    // log_text_view_paint.cpp
    void PaintLine(QPainter& painter, qint64 line, const ShownText& text, qreal y);
    void PaintCutMarker(QPainter& painter, const ShownText& text, qreal x0, qreal y);

    std::shared_ptr<const LogText> text_;
    qint64 lineCount_ = 0;
    std::uint64_t longestLine_ = 0;
    // The lines read last: those on screen and a few looked at since.
    mutable std::unordered_map<qint64, ShownText> lines_;

    qreal cellWidth_ = 8;
    int rowHeight_ = 16;
    int ascent_ = 12;
    int gutterWidth_ = 10;

    TextPosition anchor_;
    TextPosition caret_;
    qsizetype preferredColumn_ = 0;  // kept across lines of other lengths
    bool followEnd_ = false;
    bool selecting_ = false;
    QString highlight_;
    std::shared_ptr<FindJob> findJob_;
    QTimer* findPoll_ = nullptr;
    std::function<void()> findHook_;
    LogChange toldChange_ = LogChange::None;
};

}  // namespace orvalin
