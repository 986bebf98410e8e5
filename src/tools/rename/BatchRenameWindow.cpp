#include "tools/rename/BatchRenameWindow.h"

#include "model/ShelfManager.h"
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
#include <QIdentityProxyModel>
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

// Draws the preview rows whose name stays as it is in the secondary text colour.
class DimUnchangedRows : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::ForegroundRole)
            return QIdentityProxyModel::data(index, role);
        const bool unchanged = index.data(RenamePreviewModel::UnchangedRole).toBool();
        return QApplication::palette().brush(unchanged ? QPalette::PlaceholderText : QPalette::Text);
    }
};

// Binds controls to one option of the model: a change of the control sets the option, and
// the window's refresh puts the option back into the control (while `syncing`, so that the
// control's own signal is not taken for the user's).
struct Binder {
    BatchRenameModel *model;
    const bool *syncing;
    QList<std::function<void()>> *syncers;

    void text(QLineEdit *edit, QString RenamePreset::*field) const
    {
        QObject::connect(edit, &QLineEdit::textChanged, edit, [*this, field](const QString &text) {
            if (!*syncing)
                model->setOption(field, text);
        });
        syncers->append([m = model, edit, field] {
            if (edit->text() != m->options().*field) // keeps the cursor where the user types
                edit->setText(m->options().*field);
        });
    }

    void check(QCheckBox *box, bool RenamePreset::*field) const
    {
        QObject::connect(box, &QCheckBox::toggled, box, [*this, field](bool on) {
            if (!*syncing)
                model->setOption(field, on);
        });
        syncers->append([m = model, box, field] { box->setChecked(m->options().*field); });
    }

    template <typename N>
    void number(QSpinBox *box, N RenamePreset::*field) const
    {
        QObject::connect(box, &QSpinBox::valueChanged, box, [*this, field](int value) {
            if (!*syncing)
                model->setOption(field, N(value));
        });
        syncers->append([m = model, box, field] { box->setValue(int(m->options().*field)); });
    }

    template <typename E>
    void choice(QComboBox *combo, E RenamePreset::*field) const
    {
        QObject::connect(combo, &QComboBox::currentIndexChanged, combo, [*this, combo, field](int) {
            if (auto value = enumFromRaw<E>(combo->currentData().toString()); value && !*syncing)
                model->setOption(field, *value);
        });
        syncers->append([m = model, combo, field] { combo->setCurrentIndex(combo->findData(rawValue(m->options().*field))); });
    }
};

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
      m_model(new BatchRenameModel(files, std::move(initialPreset), this)),
      m_apply(std::move(apply)),
      m_onClose(std::move(onClose))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Batch Rename"));
    setMinimumSize(460, 480);
    buildUi();
    connect(m_model, &BatchRenameModel::changed, this, &BatchRenameWindow::refresh);
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
    auto *subtitle = new QLabel(m_model->subtitle(), this);
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
    m_trimHead = stepper(0, BatchRenameModel::kTrimMax, options);
    m_trimTail = stepper(0, BatchRenameModel::kTrimMax, options);
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
    m_counterStart = stepper(0, BatchRenameModel::kCounterStartMax, m_counterBox);
    m_counterStep = stepper(1, BatchRenameModel::kCounterStepMax, m_counterBox);
    m_counterPad = stepper(1, BatchRenameModel::kCounterPadMax, m_counterBox);
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
    auto *rows = new DimUnchangedRows(this);
    rows->setSourceModel(m_model->preview());
    m_table = new QTableView(this);
    m_table->setModel(rows);
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
        const RenamePreviewModel *preview = m_model->preview();
        const QString text = index.column() == RenamePreviewModel::NewName ? preview->newName(index.row())
                                                                           : preview->oldName(index.row());
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
    const Binder bind{m_model, &m_syncing, &m_syncers};
    connect(m_face, &QButtonGroup::idClicked, this, [this](int id) {
        if (!m_syncing)
            m_model->setOption(&RenamePreset::isAdvanced, id == 1);
    });
    m_syncers.append([this] { m_face->button(m_model->options().isAdvanced ? 1 : 0)->setChecked(true); });
    bind.text(m_find, &RenamePreset::findText);
    bind.text(m_replace, &RenamePreset::replaceWith);
    bind.text(m_prefix, &RenamePreset::prefix);
    bind.text(m_suffix, &RenamePreset::suffix);
    bind.text(m_counterSep, &RenamePreset::counterSep);
    bind.check(m_useRegex, &RenamePreset::useRegex);
    bind.check(m_caseSensitive, &RenamePreset::caseSensitive);
    bind.check(m_useCounter, &RenamePreset::useCounter);
    bind.check(m_keepExt, &RenamePreset::keepExt);
    bind.choice(m_caseMode, &RenamePreset::caseMode);
    bind.choice(m_counterPosition, &RenamePreset::counterPosition);
    bind.number(m_trimHead, &RenamePreset::trimHead);
    bind.number(m_trimTail, &RenamePreset::trimTail);
    bind.number(m_counterStart, &RenamePreset::counterStart);
    bind.number(m_counterStep, &RenamePreset::counterStep);
    bind.number(m_counterPad, &RenamePreset::counterPad);
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
    connect(reset, &QPushButton::clicked, m_model, &BatchRenameModel::reset);
    connect(applyButton, &QPushButton::clicked, this, &BatchRenameWindow::apply);

    // Presets.
    m_presets->attach<RenamePreset>(
        PresetStore::shared(), [this](const RenamePreset &preset) { m_model->applyPreset(preset); },
        [this](const QString &name) { return m_model->presetNamed(name); });
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
            connect(button, &QPushButton::clicked, m_model, [this, pattern] { m_model->appendToFind(pattern); });
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
    connect(clear, &QPushButton::clicked, m_model, &BatchRenameModel::clearFind);
    outer->addWidget(clear, 0, Qt::AlignLeft);
    return frame;
}

void BatchRenameWindow::refresh()
{
    m_syncing = true;
    for (const auto &sync : m_syncers)
        sync();
    m_syncing = false;

    const RenamePreset &o = m_model->options();
    m_advancedBox->setVisible(o.isAdvanced);
    m_counterBox->setEnabled(o.useCounter);
    m_sequence->setText(m_model->sequenceText());
    m_example->setText(m_model->exampleText());
    m_regexFeedback->setText(m_model->regexFeedback());
    m_regexFeedback->setStyleSheet(m_model->regexInvalid() ? QStringLiteral("color: #d70015;") : QString());
    m_regexFeedback->setVisible(!m_model->regexFeedback().isEmpty());
}

void BatchRenameWindow::apply()
{
    const std::optional<RenamePlan> plan = m_model->planToApply();
    if (!plan)
        return; // refused: the window shows why
    if (m_apply)
        m_apply(*plan);
    close();
}

void BatchRenameWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_model->applyInitialPreset();
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
