#pragma once

#include "tools/rename/RenameEngine.h"
#include "tools/rename/RenamePreviewModel.h"

#include <QObject>

#include <optional>

// The state of a Batch Rename window and its rules: the options (kept within the steppers'
// limits), the initial preset applied once, Reset, presets, the counter hints, the regular-
// expression feedback, the preview rows and what Apply hands over. The window
// (BatchRenameWindow) lays out widgets, binds them to this and forwards the user's actions;
// `changed` tells it to read the options and texts again.
class BatchRenameModel : public QObject
{
    Q_OBJECT
public:
    // The steppers' ranges; every option set here is brought within them.
    static constexpr int kTrimMax = 99;
    static constexpr int kCounterStartMax = 99999;
    static constexpr int kCounterStepMax = 1000;
    static constexpr int kCounterPadMax = 8;

    BatchRenameModel(const QList<RenameFile> &files, std::optional<RenamePreset> initialPreset,
                     QObject *parent = nullptr);

    const QList<RenameFile> &files() const { return m_files; }
    // "3 files — renames actual files on disk."
    QString subtitle() const;

    const RenamePreset &options() const { return m_options; }
    void setOptions(const RenamePreset &options); // the face included
    template <typename T>
    void setOption(T RenamePreset::*field, const T &value)
    {
        RenamePreset next = m_options;
        next.*field = value;
        setOptions(next);
    }
    // Every option back to its initial value, except the face.
    void reset();
    // The preset given at opening, applied the first time the window appears (later calls do
    // nothing).
    void applyInitialPreset();
    void applyPreset(const RenamePreset &preset);
    RenamePreset presetNamed(const QString &name) const;
    // The quick reference's rows append their pattern to the Find field; "Clear Find field".
    void appendToFind(const QString &pattern);
    void clearFind();

    // "Sequence: 001, 002, 003, 004…" and "Example: filename_001.ext".
    QString sequenceText() const;
    QString exampleText() const;
    // While "Use regular expression" is on: "Invalid regular expression" (regexInvalid) or
    // the capture-group hint; empty while it is off.
    QString regexFeedback() const;
    bool regexInvalid() const;

    RenamePreviewModel *preview() const { return m_preview; }

    // What Apply hands to the window's callback: the plan for the current options, or nothing
    // when Apply is refused (an invalid regular expression; the window shows why).
    std::optional<RenamePlan> planToApply() const;

signals:
    void changed();

private:
    QList<RenameFile> m_files;
    std::optional<RenamePreset> m_initialPreset;
    bool m_appliedInitial = false;
    RenamePreset m_options;
    RenamePreviewModel *m_preview = nullptr;
};
