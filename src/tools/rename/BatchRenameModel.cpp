#include "tools/rename/BatchRenameModel.h"

#include "tools/presets/PresetRules.h"

#include <algorithm>

BatchRenameModel::BatchRenameModel(const QList<RenameFile> &files, std::optional<RenamePreset> initialPreset,
                                   QObject *parent)
    : QObject(parent), m_files(files), m_initialPreset(std::move(initialPreset)),
      m_preview(new RenamePreviewModel(this))
{
    m_preview->update(m_files, m_options);
}

QString BatchRenameModel::subtitle() const
{
    return QStringLiteral("%1 %2 — renames actual files on disk.")
        .arg(m_files.size())
        .arg(m_files.size() == 1 ? QStringLiteral("file") : QStringLiteral("files"));
}

void BatchRenameModel::setOptions(const RenamePreset &options)
{
    m_options = options;
    m_options.trimHead = std::clamp(m_options.trimHead, 0, kTrimMax);
    m_options.trimTail = std::clamp(m_options.trimTail, 0, kTrimMax);
    m_options.counterStart = std::clamp<qint64>(m_options.counterStart, 0, kCounterStartMax);
    m_options.counterStep = std::clamp<qint64>(m_options.counterStep, 1, kCounterStepMax);
    m_options.counterPad = std::clamp(m_options.counterPad, 1, kCounterPadMax);
    m_preview->update(m_files, m_options);
    emit changed();
}

void BatchRenameModel::reset()
{
    RenamePreset fresh;
    fresh.isAdvanced = m_options.isAdvanced;
    setOptions(fresh);
}

void BatchRenameModel::applyInitialPreset()
{
    if (m_appliedInitial)
        return;
    m_appliedInitial = true;
    if (m_initialPreset)
        applyPreset(*m_initialPreset);
}

void BatchRenameModel::applyPreset(const RenamePreset &preset)
{
    RenamePreset next = m_options;
    PresetRules::applyRename(preset, next);
    setOptions(next);
}

RenamePreset BatchRenameModel::presetNamed(const QString &name) const
{
    return PresetRules::buildRename(m_options, name);
}

void BatchRenameModel::appendToFind(const QString &pattern)
{
    setOption(&RenamePreset::findText, m_options.findText + pattern);
}

void BatchRenameModel::clearFind()
{
    setOption(&RenamePreset::findText, QString());
}

QString BatchRenameModel::sequenceText() const
{
    return RenameEngine::sequenceHint(m_options);
}

QString BatchRenameModel::exampleText() const
{
    return RenameEngine::exampleHint(m_options);
}

bool BatchRenameModel::regexInvalid() const
{
    return RenameEngine::hasInvalidRegex(m_options);
}

QString BatchRenameModel::regexFeedback() const
{
    if (!m_options.useRegex)
        return QString();
    if (regexInvalid())
        return QStringLiteral("⚠ Invalid regular expression");
    return QStringLiteral("Use $1, $2 to reference capture groups in the Replace field.");
}

std::optional<RenamePlan> BatchRenameModel::planToApply() const
{
    RenamePreset preset = m_options;
    preset.name.clear();
    if (RenameEngine::hasInvalidRegex(preset))
        return std::nullopt;
    return RenameEngine::plannedNames(m_files, preset);
}
