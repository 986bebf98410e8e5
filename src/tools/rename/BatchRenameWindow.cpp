#include "tools/rename/BatchRenameWindow.h"

#include "model/ShelfManager.h"
#include "tools/presets/PresetRules.h"
#include "tools/presets/PresetStore.h"
#include "tools/presets/PresetsSection.h"
#include "tools/rename/ShelfRename.h"

#include <algorithm>

#include <QApplication>
#include <QGuiApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSplitter>
#include <QSpinBox>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

// ---- preview model ----

RenamePreviewModel::RenamePreviewModel(QObject *parent) : QAbstractTableModel(parent) {}

bool RenamePreviewModel::update(const QList<RenameFile> &files, const RenamePreset &options)
{
    RenamePreviewSignature signature = RenameEngine::previewSignature(files, options);
    if (m_signature && *m_signature == signature)
        return false;
    // The same files as last time: keep their decoded names, recompute only the new ones.
    const bool sameFiles = m_signature && m_signature->fileCount == signature.fileCount
                           && m_signature->firstFileID == signature.firstFileID
                           && m_signature->firstFilePath == signature.firstFilePath
                           && m_signature->lastFileID == signature.lastFileID
                           && m_signature->lastFilePath == signature.lastFilePath;
    beginResetModel();
    m_signature = std::move(signature);
    if (!sameFiles) {
        m_old.clear();
        m_old.reserve(files.size());
        for (const RenameFile &file : files)
            m_old.append(RenameEngine::fileName(file.url));
    }
    m_new.clear();
    m_new.reserve(files.size());
    const RenameRules rules(options);
    for (qsizetype i = 0; i < m_old.size(); ++i)
        m_new.append(rules.newName(m_old[i], i));
    ++m_rebuilds;
    endResetModel();
    return true;
}

int RenamePreviewModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_old.size());
}

int RenamePreviewModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant RenamePreviewModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_old.size())
        return {};
    const int row = index.row();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        if (index.column() == OldName)
            return m_old[row];
        if (index.column() == NewName)
            return m_new[row];
        return role == Qt::DisplayRole ? QVariant(QStringLiteral("→")) : QVariant();
    case Qt::ForegroundRole:
        if (m_old[row] == m_new[row])
            return QApplication::palette().brush(QPalette::PlaceholderText);
        return QApplication::palette().brush(QPalette::Text);
    default:
        return {};
    }
}

QVariant RenamePreviewModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case OldName: return QStringLiteral("Original");
    case NewName: return QStringLiteral("Renamed");
    default: return QString();
    }
}

// ---- window ----

namespace {

QPointer<BatchRenameWindow> &currentWindow()
{
    static QPointer<BatchRenameWindow> window;
    return window;
}

QSpinBox *stepper(int min, int max, QWidget *parent)
{
    auto *box = new QSpinBox(parent);
    box->setRange(min, max);
    box->setSingleStep(1);
    return box;
}

QLabel *sectionTitle(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QFont f = label->font();
    f.setBold(true);
    label->setFont(f);
    return label;
}

struct ReferenceRow {
    const char *pattern;
    const char *description;
    const char *second = nullptr;
};
struct ReferenceSection {
    const char *title;
    QList<ReferenceRow> rows;
};

const QList<ReferenceSection> &referenceSections()
{
    static const QList<ReferenceSection> sections{
        {"Match",
         {{".", "Any character (except newline)"},
          {"\\d", "Digit  0–9"},
          {"\\D", "Non-digit"},
          {"\\w", "Word char  a-z A-Z 0-9 _"},
          {"\\W", "Non-word char"},
          {"\\s", "Whitespace (space, tab…)"},
          {"\\S", "Non-whitespace"}}},
        {"Quantifiers",
         {{"*", "0 or more  (greedy)"},
          {"+", "1 or more  (greedy)"},
          {"?", "0 or 1  (optional)"},
          {"{n}", "Exactly n times"},
          {"{n,m}", "Between n and m times"},
          {"*?", "0 or more  (lazy)"}}},
        {"Anchors", {{"^", "Start of string"}, {"$", "End of string"}}},
        {"Groups & Classes",
         {{"(...)", "Capture group"},
          {"(?:...)", "Non-capturing group"},
          {"[abc]", "Match a, b, or c"},
          {"[^abc]", "Not a, b, or c"},
          {"[a-z]", "Range a through z"},
          {"a|b", "a or b"}}},
        {"Before / After a Word or Character",
         {{"^(.*?)_", "Everything BEFORE the first '_'  →  put $1 in Replace", "(swap _ for any char or word)"},
          {"_(.*)$", "Everything AFTER the last '_'  →  put $1 in Replace", "(swap _ for any char or word)"}}},
        {"Examples",
         {{"(\\d{4})", "Capture a 4-digit year"},
          {"\\s+", "One or more spaces"},
          {"^[Ee]p", "Starts with \"Ep\" or \"ep\""},
          {"\\.mp3$", "Ends with \".mp3\""},
          {"^(.+) - (.+)$", "Split \"Artist - Title\" into groups"}}},
    };
    return sections;
}

} // namespace

BatchRenameWindow::BatchRenameWindow(const QList<RenameFile> &files,
                                     std::optional<RenamePreset> initialPreset, ApplyCallback apply,
                                     std::function<void()> onClose, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint),
      m_files(files),
      m_initialPreset(std::move(initialPreset)),
      m_apply(std::move(apply)),
      m_onClose(std::move(onClose))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Batch Rename"));
    setMinimumSize(460, 480);
    buildUi();
    writeControls();
    refresh();
    sizeToContent();
}

void BatchRenameWindow::sizeToContent()
{
    // The options at their full height and about ten preview rows, as far as the screen
    // allows; when it does not, the options scroll and the preview keeps its rows.
    const QScreen *screen = QGuiApplication::primaryScreen();
    const int available = screen ? screen->availableGeometry().height() - 60 : 800;
    const int options = m_optionsScroll->widget()->sizeHint().height() + 4;
    const int rowHeight = m_table->verticalHeader()->defaultSectionSize();
    const int preview = rowHeight * 10 + m_table->horizontalHeader()->sizeHint().height() + 50;
    const int chrome = sizeHint().height() - m_split->sizeHint().height();
    const int height = std::clamp(chrome + options + preview, minimumHeight(), std::max(minimumHeight(), available));
    const int optionsShown = std::max(120, std::min(options, height - chrome - preview));
    resize(std::max(540, sizeHint().width()), height);
    m_split->setSizes({optionsShown, std::max(rowHeight * 4, height - chrome - optionsShown)});
}

BatchRenameWindow::~BatchRenameWindow() = default;

BatchRenameWindow *BatchRenameWindow::open(const QList<RenameFile> &files,
                                           std::optional<RenamePreset> initialPreset,
                                           ApplyCallback apply, std::function<void()> onClose)
{
    if (BatchRenameWindow *previous = currentWindow())
        previous->close();
    auto *window = new BatchRenameWindow(files, std::move(initialPreset), std::move(apply), std::move(onClose));
    currentWindow() = window;
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

BatchRenameWindow *BatchRenameWindow::current()
{
    return currentWindow();
}

void BatchRenameWindow::buildUi()
{
    auto *root = new QVBoxLayout(this);

    auto *title = new QLabel(QStringLiteral("Batch Rename"), this);
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    big.setBold(true);
    title->setFont(big);
    root->addWidget(title);
    auto *subtitle = new QLabel(QStringLiteral("%1 %2 — renames actual files on disk.")
                                    .arg(m_files.size())
                                    .arg(m_files.size() == 1 ? QStringLiteral("file") : QStringLiteral("files")),
                                this);
    subtitle->setForegroundRole(QPalette::PlaceholderText);
    root->addWidget(subtitle);

    // Face switch.
    auto *faceRow = new QHBoxLayout;
    m_face = new QButtonGroup(this);
    auto *simple = new QPushButton(QStringLiteral("Simple"), this);
    auto *advanced = new QPushButton(QStringLiteral("Advanced"), this);
    for (QPushButton *b : {simple, advanced})
        b->setCheckable(true);
    m_face->addButton(simple, 0);
    m_face->addButton(advanced, 1);
    m_face->setExclusive(true);
    faceRow->addWidget(simple);
    faceRow->addWidget(advanced);
    faceRow->addStretch(1);
    root->addLayout(faceRow);

    // Options, scrollable.
    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto *options = new QWidget(scroll);
    auto *col = new QVBoxLayout(options);
    scroll->setWidget(options);

    auto *findForm = new QFormLayout;
    m_find = new QLineEdit(options);
    m_replace = new QLineEdit(options);
    m_find->setPlaceholderText(QStringLiteral("Text to find"));
    m_find->setObjectName(QStringLiteral("findField"));
    m_replace->setPlaceholderText(QStringLiteral("Replacement"));
    findForm->addRow(QStringLiteral("Find:"), m_find);
    findForm->addRow(QStringLiteral("Replace with:"), m_replace);
    col->addLayout(findForm);

    m_advancedBox = new QWidget(options);
    auto *adv = new QVBoxLayout(m_advancedBox);
    adv->setContentsMargins(0, 0, 0, 0);
    auto *regexRow = new QHBoxLayout;
    m_useRegex = new QCheckBox(QStringLiteral("Use regular expression"), m_advancedBox);
    m_caseSensitive = new QCheckBox(QStringLiteral("Case sensitive"), m_advancedBox);
    auto *refButton = new QPushButton(QStringLiteral("Regex Quick Reference"), m_advancedBox);
    regexRow->addWidget(m_useRegex);
    regexRow->addWidget(m_caseSensitive);
    regexRow->addStretch(1);
    regexRow->addWidget(refButton);
    adv->addLayout(regexRow);
    m_regexFeedback = new QLabel(m_advancedBox);
    m_regexFeedback->setWordWrap(true);
    adv->addWidget(m_regexFeedback);
    auto *caseForm = new QFormLayout;
    m_caseMode = new QComboBox(m_advancedBox);
    m_caseMode->addItem(QStringLiteral("Unchanged"), rawValue(CaseMode::unchanged));
    m_caseMode->addItem(QStringLiteral("lowercase"), rawValue(CaseMode::lower));
    m_caseMode->addItem(QStringLiteral("UPPERCASE"), rawValue(CaseMode::upper));
    m_caseMode->addItem(QStringLiteral("Title Case"), rawValue(CaseMode::title));
    caseForm->addRow(QStringLiteral("Case:"), m_caseMode);
    adv->addLayout(caseForm);
    col->addWidget(m_advancedBox);

    auto *affixes = new QFormLayout;
    m_prefix = new QLineEdit(options);
    m_suffix = new QLineEdit(options);
    m_prefix->setObjectName(QStringLiteral("prefixField"));
    affixes->addRow(QStringLiteral("Prefix:"), m_prefix);
    affixes->addRow(QStringLiteral("Suffix:"), m_suffix);
    auto *trimRow = new QHBoxLayout;
    m_trimHead = stepper(0, 99, options);
    m_trimTail = stepper(0, 99, options);
    trimRow->addWidget(new QLabel(QStringLiteral("From start:"), options));
    trimRow->addWidget(m_trimHead);
    trimRow->addWidget(new QLabel(QStringLiteral("From end:"), options));
    trimRow->addWidget(m_trimTail);
    trimRow->addStretch(1);
    affixes->addRow(QStringLiteral("Trim:"), trimRow);
    col->addLayout(affixes);

    m_useCounter = new QCheckBox(QStringLiteral("Add counter"), options);
    col->addWidget(m_useCounter);
    m_counterBox = new QWidget(options);
    auto *counter = new QGridLayout(m_counterBox);
    counter->setContentsMargins(16, 0, 0, 0);
    m_counterPosition = new QComboBox(m_counterBox);
    m_counterPosition->addItem(QStringLiteral("Suffix"), rawValue(CounterPosition::suffix));
    m_counterPosition->addItem(QStringLiteral("Prefix"), rawValue(CounterPosition::prefix));
    m_counterSep = new QLineEdit(m_counterBox);
    m_counterSep->setMaximumWidth(60);
    m_counterStart = stepper(0, 99999, m_counterBox);
    m_counterStep = stepper(1, 1000, m_counterBox);
    m_counterPad = stepper(1, 8, m_counterBox);
    counter->addWidget(new QLabel(QStringLiteral("Position:"), m_counterBox), 0, 0);
    counter->addWidget(m_counterPosition, 0, 1);
    counter->addWidget(new QLabel(QStringLiteral("Separator:"), m_counterBox), 0, 2);
    counter->addWidget(m_counterSep, 0, 3);
    counter->addWidget(new QLabel(QStringLiteral("Start:"), m_counterBox), 1, 0);
    counter->addWidget(m_counterStart, 1, 1);
    counter->addWidget(new QLabel(QStringLiteral("Step:"), m_counterBox), 1, 2);
    counter->addWidget(m_counterStep, 1, 3);
    counter->addWidget(new QLabel(QStringLiteral("Min digits:"), m_counterBox), 2, 0);
    counter->addWidget(m_counterPad, 2, 1);
    m_sequence = new QLabel(m_counterBox);
    m_example = new QLabel(m_counterBox);
    for (QLabel *l : {m_sequence, m_example})
        l->setForegroundRole(QPalette::PlaceholderText);
    counter->addWidget(m_sequence, 3, 0, 1, 4);
    counter->addWidget(m_example, 4, 0, 1, 4);
    col->addWidget(m_counterBox);

    m_keepExt = new QCheckBox(QStringLiteral("Keep extension"), options);
    col->addWidget(m_keepExt);

    m_presets = new PresetsSection(options);
    col->addWidget(m_presets);
    col->addStretch(1);

    // Options above, preview below, split where the user wants it; the options start at
    // their full height (as far as the screen allows) and the preview takes the rest.
    m_split = new QSplitter(Qt::Vertical, this);
    m_split->setChildrenCollapsible(false);
    m_split->addWidget(scroll);
    m_optionsScroll = scroll;
    auto *preview = new QWidget(m_split);
    auto *previewLayout = new QVBoxLayout(preview);
    previewLayout->setContentsMargins(0, 0, 0, 0);
    m_split->addWidget(preview);
    m_split->setStretchFactor(0, 0);
    m_split->setStretchFactor(1, 1);
    root->addWidget(m_split, 1);

    // Preview.
    previewLayout->addWidget(sectionTitle(QStringLiteral("Preview"), this));
    m_hoverLine = new QLabel(QStringLiteral("Hover a name below to see it in full"), this);
    m_hoverLine->setForegroundRole(QPalette::PlaceholderText);
    m_hoverLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    previewLayout->addWidget(m_hoverLine);
    m_model = new RenamePreviewModel(this);
    m_table = new QTableView(this);
    m_table->setModel(m_model);
    m_table->setMouseTracking(true);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideMiddle);
    m_table->horizontalHeader()->setSectionResizeMode(RenamePreviewModel::OldName, QHeaderView::Stretch);
    m_table->horizontalHeader()->setSectionResizeMode(RenamePreviewModel::Arrow, QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(RenamePreviewModel::NewName, QHeaderView::Stretch);
    m_table->setMinimumHeight(m_table->verticalHeader()->defaultSectionSize() * 4);
    previewLayout->addWidget(m_table, 1);
    connect(m_table, &QTableView::entered, this, [this](const QModelIndex &index) {
        const QString text = index.column() == RenamePreviewModel::NewName ? m_model->newName(index.row())
                                                                           : m_model->oldName(index.row());
        m_hoverLine->setText(text);
        m_hoverLine->setForegroundRole(QPalette::WindowText);
    });

    // Buttons.
    auto *buttons = new QHBoxLayout;
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
    auto *reset = new QPushButton(QStringLiteral("Reset"), this);
    auto *applyButton = new QPushButton(QStringLiteral("Apply"), this);
    applyButton->setDefault(true);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    buttons->addWidget(reset);
    buttons->addWidget(applyButton);
    root->addLayout(buttons);

    m_reference = static_cast<QFrame *>(buildQuickReference());

    // Wiring.
    auto changed = [this] {
        if (m_syncing)
            return;
        readControls();
        refresh();
    };
    connect(m_face, &QButtonGroup::idClicked, this, changed);
    for (QLineEdit *e : {m_find, m_replace, m_prefix, m_suffix, m_counterSep})
        connect(e, &QLineEdit::textChanged, this, changed);
    for (QCheckBox *c : {m_useRegex, m_caseSensitive, m_useCounter, m_keepExt})
        connect(c, &QCheckBox::toggled, this, changed);
    for (QComboBox *c : {m_caseMode, m_counterPosition})
        connect(c, &QComboBox::currentIndexChanged, this, changed);
    for (QSpinBox *s : {m_trimHead, m_trimTail, m_counterStart, m_counterStep, m_counterPad})
        connect(s, &QSpinBox::valueChanged, this, changed);
    connect(refButton, &QPushButton::clicked, this, [this, refButton] {
        m_reference->adjustSize();
        // Below the button, kept inside the screen (the window rules move it back in too).
        QPoint at = refButton->mapToGlobal(QPoint(0, refButton->height()));
        if (QScreen *screen = refButton->screen()) {
            const QRect area = screen->availableGeometry();
            at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() + 1 - m_reference->width())));
            at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() + 1 - m_reference->height())));
        }
        m_reference->move(at);
        m_reference->show();
    });
    connect(cancel, &QPushButton::clicked, this, &QWidget::close);
    connect(reset, &QPushButton::clicked, this, &BatchRenameWindow::reset);
    connect(applyButton, &QPushButton::clicked, this, &BatchRenameWindow::apply);

    // Presets.
    PresetStore &store = PresetStore::shared();
    auto syncPresets = [this, &store] { m_presets->setPresets(PresetsSection::entries(store.renamePresets())); };
    syncPresets();
    connect(&store, &PresetStore::renamePresetsChanged, this, syncPresets);
    connect(m_presets, &PresetsSection::applyRequested, this, [this, &store](const QUuid &id) {
        if (auto preset = store.renamePreset(id)) {
            RenamePreset next = m_options;
            PresetRules::applyRename(*preset, next);
            setOptions(next);
        }
    });
    connect(m_presets, &PresetsSection::removeRequested, &store, &PresetStore::deleteRename);
    connect(m_presets, &PresetsSection::saveRequested, this, [this, &store](const QString &name) {
        store.saveRename(PresetRules::buildRename(m_options, name));
    });
}

QWidget *BatchRenameWindow::buildQuickReference()
{
    auto *frame = new QFrame(this, Qt::Popup);
    frame->setFrameShape(QFrame::StyledPanel);
    auto *outer = new QVBoxLayout(frame);
    outer->addWidget(sectionTitle(QStringLiteral("Regex Quick Reference"), frame));
    auto *sub = new QLabel(QStringLiteral("Click rows below to append to the Find field"), frame);
    sub->setForegroundRole(QPalette::PlaceholderText);
    outer->addWidget(sub);

    auto *scroll = new QScrollArea(frame);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setMinimumSize(420, 420);
    auto *content = new QWidget(scroll);
    auto *list = new QVBoxLayout(content);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    for (const ReferenceSection &section : referenceSections()) {
        list->addWidget(sectionTitle(QString::fromUtf8(section.title), content));
        for (const ReferenceRow &row : section.rows) {
            const QString pattern = QString::fromUtf8(row.pattern);
            QString description = QString::fromUtf8(row.description);
            if (row.second)
                description += u'\n' + QString::fromUtf8(row.second);
            auto *button = new QPushButton(content);
            button->setObjectName(QStringLiteral("regexRow"));
            button->setFlat(true);
            button->setProperty("pattern", pattern);
            auto *h = new QHBoxLayout(button);
            h->setContentsMargins(6, 2, 6, 2);
            auto *p = new QLabel(pattern, button);
            p->setFont(mono);
            p->setMinimumWidth(110);
            p->setAttribute(Qt::WA_TransparentForMouseEvents);
            auto *d = new QLabel(description, button);
            d->setAttribute(Qt::WA_TransparentForMouseEvents);
            h->addWidget(p);
            h->addWidget(d, 1);
            button->setMinimumHeight(h->sizeHint().height());
            connect(button, &QPushButton::clicked, this, [this, pattern] { appendToFind(pattern); });
            list->addWidget(button);
        }
    }
    list->addStretch(1);
    scroll->setWidget(content);
    outer->addWidget(scroll, 1);

    auto *footer = new QLabel(QStringLiteral("Click to append  ·  build up complex patterns one piece at a time"), frame);
    footer->setForegroundRole(QPalette::PlaceholderText);
    outer->addWidget(footer);
    auto *clear = new QPushButton(QStringLiteral("Clear Find field"), frame);
    connect(clear, &QPushButton::clicked, this, [this] { m_find->clear(); });
    outer->addWidget(clear, 0, Qt::AlignLeft);
    return frame;
}

void BatchRenameWindow::appendToFind(const QString &pattern)
{
    m_find->setText(m_find->text() + pattern);
}

void BatchRenameWindow::readControls()
{
    RenamePreset &o = m_options;
    o.isAdvanced = m_face->checkedId() == 1;
    o.findText = m_find->text();
    o.replaceWith = m_replace->text();
    o.useRegex = m_useRegex->isChecked();
    o.caseSensitive = m_caseSensitive->isChecked();
    o.caseMode = caseModeFromStored(m_caseMode->currentData().toString());
    o.prefix = m_prefix->text();
    o.suffix = m_suffix->text();
    o.trimHead = m_trimHead->value();
    o.trimTail = m_trimTail->value();
    o.useCounter = m_useCounter->isChecked();
    o.counterPosition = counterPositionFromStored(m_counterPosition->currentData().toString());
    o.counterSep = m_counterSep->text();
    o.counterStart = m_counterStart->value();
    o.counterStep = m_counterStep->value();
    o.counterPad = m_counterPad->value();
    o.keepExt = m_keepExt->isChecked();
}

void BatchRenameWindow::writeControls()
{
    m_syncing = true;
    const RenamePreset &o = m_options;
    m_face->button(o.isAdvanced ? 1 : 0)->setChecked(true);
    m_find->setText(o.findText);
    m_replace->setText(o.replaceWith);
    m_useRegex->setChecked(o.useRegex);
    m_caseSensitive->setChecked(o.caseSensitive);
    m_caseMode->setCurrentIndex(m_caseMode->findData(rawValue(o.caseMode)));
    m_prefix->setText(o.prefix);
    m_suffix->setText(o.suffix);
    m_trimHead->setValue(o.trimHead);
    m_trimTail->setValue(o.trimTail);
    m_useCounter->setChecked(o.useCounter);
    m_counterPosition->setCurrentIndex(m_counterPosition->findData(rawValue(o.counterPosition)));
    m_counterSep->setText(o.counterSep);
    m_counterStart->setValue(int(std::clamp<qint64>(o.counterStart, 0, 99999)));
    m_counterStep->setValue(int(std::clamp<qint64>(o.counterStep, 1, 1000)));
    m_counterPad->setValue(qBound(1, o.counterPad, 8));
    m_keepExt->setChecked(o.keepExt);
    m_syncing = false;
    // The steppers hold the options within their limits.
    readControls();
}

void BatchRenameWindow::setOptions(const RenamePreset &options)
{
    m_options = options;
    writeControls();
    refresh();
}

void BatchRenameWindow::reset()
{
    RenamePreset fresh;
    fresh.isAdvanced = m_options.isAdvanced;
    setOptions(fresh);
}

QString BatchRenameWindow::regexFeedback() const
{
    return m_regexFeedback->text();
}

QString BatchRenameWindow::sequenceText() const
{
    return m_sequence->text();
}

QString BatchRenameWindow::exampleText() const
{
    return m_example->text();
}

void BatchRenameWindow::refresh()
{
    const RenamePreset &o = m_options;
    m_advancedBox->setVisible(o.isAdvanced);
    m_counterBox->setEnabled(o.useCounter);
    m_sequence->setText(RenameEngine::sequenceHint(o));
    m_example->setText(RenameEngine::exampleHint(o));

    const bool invalid = o.useRegex && o.isAdvanced && !o.findText.isEmpty() && RenameEngine::hasInvalidRegex(o);
    if (!o.useRegex) {
        m_regexFeedback->clear();
        m_regexFeedback->hide();
    } else if (invalid) {
        m_regexFeedback->setText(QStringLiteral("⚠ Invalid regular expression"));
        m_regexFeedback->setStyleSheet(QStringLiteral("color: #d70015;"));
        m_regexFeedback->show();
    } else {
        m_regexFeedback->setText(QStringLiteral("Use $1, $2 to reference capture groups in the Replace field."));
        m_regexFeedback->setStyleSheet(QString());
        m_regexFeedback->show();
    }
    m_model->update(m_files, o);
}

void BatchRenameWindow::apply()
{
    RenamePreset preset = m_options;
    preset.name.clear();
    if (RenameEngine::hasInvalidRegex(preset))
        return; // refused: the window shows why
    const RenamePlan plan = RenameEngine::plannedNames(m_files, preset);
    if (m_apply)
        m_apply(plan);
    close();
}

void BatchRenameWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_appliedInitial) {
        m_appliedInitial = true;
        if (m_initialPreset) {
            RenamePreset next = m_options;
            PresetRules::applyRename(*m_initialPreset, next);
            setOptions(next);
        }
    }
}

void BatchRenameWindow::closeEvent(QCloseEvent *event)
{
    m_reference->hide();
    if (m_onClose) {
        auto onClose = std::move(m_onClose);
        m_onClose = nullptr;
        onClose();
    }
    QWidget::closeEvent(event);
}

// ---- shelf entry point ----

void presentRenameErrors(const QStringList &errors)
{
    if (errors.isEmpty())
        return;
    QTimer::singleShot(0, qApp, [errors] {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Some files could not be renamed"),
                        errors.join(u'\n'), QMessageBox::Ok);
        box.setWindowTitle(QStringLiteral("Some files could not be renamed"));
        box.exec();
    });
}

BatchRenameWindow *openBatchRename(ShelfManager &manager, const QUuid &shelfId,
                                   const QList<QUuid> &fileIds, std::optional<RenamePreset> initialPreset)
{
    const QList<RenameFile> files = ShelfRename::renameFiles(manager, shelfId, fileIds);
    QPointer<ShelfManager> guard(&manager);
    return BatchRenameWindow::open(files, std::move(initialPreset), [guard, shelfId](const RenamePlan &plan) {
        if (!guard)
            return;
        presentRenameErrors(ShelfRename::performRename(plan, *guard, shelfId));
    });
}
