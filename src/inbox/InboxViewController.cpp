#include "inbox/InboxViewController.h"

#include "widgets/ButtonChoice.h"
#include "widgets/Styling.h"

#include "cards/ElidedLabel.h"
#include "delivery/PasteDelivery.h"
#include "inbox/AlertSound.h"
#include "inbox/ClipListModel.h"
#include "inbox/ClipRowDelegate.h"
#include "platform/SecretStore.h"
#include "platform/SystemColors.h"
#include "service/APIClient.h"
#include "widgets/SafePlainTextEdit.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include <limits>

namespace quillpost {

namespace {

using SystemColors::rgba;

const QString saveTitle = QStringLiteral("保存修改");
const QString savedTitle = QStringLiteral("已保存");
const QString saveFailedTitle = QStringLiteral("保存失败");
const QString saveTitleResetName = QStringLiteral("saveTitleReset");

qint64 indexOfId(const QList<Clip> &clips, const QString &id)
{
    for (qsizetype i = 0; i < clips.size(); ++i) {
        if (clips.at(i).id == id)
            return i;
    }
    return -1;
}

// The text the editor shows for a clip under a version: the raw text, or the optimized text
// with the raw text standing in while the optimized one is empty.
QString versionText(const Clip &clip, int version)
{
    if (version == InboxViewController::rawVersion || clip.optimizedText.isEmpty())
        return clip.rawText;
    return clip.optimizedText;
}

QPushButton *button(const QString &title, const QString &objectName, QWidget *parent)
{
    auto *result = new QPushButton(title, parent);
    result->setObjectName(objectName);
    result->setAccessibleName(title);
    result->setAutoDefault(false);
    return result;
}

} // namespace

InboxViewController::InboxViewController(APIClient *api, const Profile &profile, const Platform &platform,
                                         SecretStore *store, std::function<void()> onLogout, QWidget *parent)
    : InboxViewController(api, profile, platform, store, nullptr, std::move(onLogout), parent)
{
}

InboxViewController::InboxViewController(APIClient *api, const Profile &profile, const Platform &platform,
                                         SecretStore *store, AlertSound *sound, std::function<void()> onLogout,
                                         QWidget *parent)
    : QWidget(parent)
    , m_api(api)
    , m_profile(profile)
    , m_onLogout(std::move(onLogout))
    , m_platform(platform)
    , m_store(store)
    , m_sound(sound)
{
    Q_ASSERT(m_api && m_store);
    if (!m_sound)
        m_sound = new ThemeAlertSound(this);

    m_delivery = new PasteDelivery(m_platform, PasteDeliveryOptions::inboxWindow(), this);
    connect(m_delivery, &PasteDelivery::statusChanged, this,
            [this](const QString &text, const std::optional<QColor> &color, const QString &explanation) {
                setStatus(text, color, explanation);
            });

    // A child of the window: no tick can reach a window that is gone.
    m_pollTimer = new QTimer(this);
    m_pollTimer->setObjectName(QStringLiteral("pollTimer"));
    m_pollTimer->setInterval(pollInterval);
    connect(m_pollTimer, &QTimer::timeout, this, &InboxViewController::refresh);

    loadView();
}

InboxViewController::~InboxViewController() = default;

void InboxViewController::loadView()
{
    setPalette(lightPalette());
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);

    auto *root = new QVBoxLayout(this);
    root->setSpacing(14);
    root->setContentsMargins(20, 18, 20, 18);
    root->addWidget(buildHeader());

    m_model = new ClipListModel(this);
    m_table = new QListView(this);
    m_table->setObjectName(QStringLiteral("clips"));
    m_table->setAccessibleName(QStringLiteral("最近收到"));
    m_table->setModel(m_model);
    m_table->setItemDelegate(new ClipRowDelegate(m_table));
    m_table->setUniformItemSizes(true);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_table->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_table->setFrameShape(QFrame::NoFrame);
    m_table->setFixedWidth(255);
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &InboxViewController::tableViewSelectionDidChange);

    auto *body = new QHBoxLayout;
    body->setSpacing(18);
    body->addWidget(m_table);
    body->addWidget(buildEditorColumn(), 1);
    root->addLayout(body, 1);

    // Ctrl+S saves from anywhere in the window, as the save button would.
    auto *saveShortcut = new QShortcut(QKeySequence::Save, this);
    saveShortcut->setContext(Qt::WidgetWithChildrenShortcut);
    connect(saveShortcut, &QShortcut::activated, this, [this] {
        if (m_saveButton->isEnabled())
            save();
    });

    refresh();
    m_pollTimer->start();
}

QWidget *InboxViewController::buildHeader()
{
    auto *header = new QWidget(this);
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(11);

    auto *title = new QLabel(QStringLiteral("Quillpost"), header);
    title->setTextFormat(Qt::PlainText);
    title->setFont(pixelFont(font(), 23, QFont::Bold));
    setColour(title, QPalette::WindowText, rgba(0.18, 0.34, 0.28, 1.0));

    m_status = new QLabel(header);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setTextFormat(Qt::PlainText);
    setStatus(QStringLiteral("正在同步…"), SystemColors::label());

    auto *nickname = new ElidedLabel(m_profile.nickname, header);
    nickname->setObjectName(QStringLiteral("nickname"));
    nickname->setMaximumWidth(220);
    setColour(nickname, QPalette::WindowText, SystemColors::secondaryLabel());

    m_logoutButton = button(QStringLiteral("退出"), QStringLiteral("logoutButton"), header);
    connect(m_logoutButton, &QPushButton::clicked, this, &InboxViewController::logout);

    row->addWidget(title, 0, Qt::AlignVCenter);
    row->addStretch(1);
    row->addWidget(m_status, 0, Qt::AlignVCenter);
    row->addWidget(nickname, 0, Qt::AlignVCenter);
    row->addWidget(m_logoutButton, 0, Qt::AlignVCenter);
    return header;
}

QWidget *InboxViewController::buildEditorColumn()
{
    auto *column = new QWidget(this);
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    m_optimizedButton = button(QStringLiteral("优化版"), QStringLiteral("optimizedButton"), column);
    m_rawButton = button(QStringLiteral("原文"), QStringLiteral("rawButton"), column);
    m_version = new QButtonGroup(column);
    m_version->setExclusive(true);
    for (auto [segment, id] : {std::pair{m_optimizedButton, optimizedVersion}, std::pair{m_rawButton, rawVersion}}) {
        segment->setCheckable(true);
        m_version->addButton(segment, id);
    }
    m_optimizedButton->setChecked(true);
    // Only the user's choice counts: checking a button from code does not click it.
    connectChoice(m_version, this, [this](int) { versionChanged(); });
    auto *segments = new QHBoxLayout;
    segments->setSpacing(0);
    segments->addWidget(m_optimizedButton);
    segments->addWidget(m_rawButton);
    segments->addStretch(1);

    m_titleField = new QLineEdit(column);
    m_titleField->setObjectName(QStringLiteral("titleField"));
    m_titleField->setPlaceholderText(QStringLiteral("标题"));
    m_titleField->setAccessibleName(QStringLiteral("标题"));
    m_titleField->setFont(pixelFont(font(), 17, QFont::DemiBold));
    // The default limit of 32767 characters would cut a long title and save it cut.
    m_titleField->setMaxLength(std::numeric_limits<int>::max());

    m_editor = new SafePlainTextEdit(column);
    m_editor->setObjectName(QStringLiteral("editor"));
    m_editor->setAccessibleName(QStringLiteral("正文"));
    m_editor->setFont(pixelFont(font(), 15, QFont::Normal));
    m_editor->document()->setDocumentMargin(14);
    m_editor->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_editor->setTabChangesFocus(true);
    m_editor->setMinimumSize(500, 370);

    m_saveButton = button(saveTitle, QStringLiteral("saveButton"), column);
    m_copyButton = button(QStringLiteral("复制"), QStringLiteral("copyButton"), column);
    m_pasteButton = button(QStringLiteral("粘贴到当前应用"), QStringLiteral("pasteButton"), column);
    setColour(m_pasteButton, QPalette::ButtonText, rgba(0.14, 0.38, 0.28, 1.0));
    connect(m_saveButton, &QPushButton::clicked, this, &InboxViewController::save);
    connect(m_copyButton, &QPushButton::clicked, this, &InboxViewController::copyText);
    connect(m_pasteButton, &QPushButton::clicked, this, &InboxViewController::pasteText);
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addWidget(m_saveButton);
    buttons->addWidget(m_copyButton);
    buttons->addWidget(m_pasteButton);
    buttons->addStretch(1);

    layout->addLayout(segments);
    layout->addWidget(m_titleField);
    layout->addWidget(m_editor, 1);
    layout->addLayout(buttons);
    return column;
}

const QList<Clip> &InboxViewController::clips() const
{
    return m_model->clips();
}

int InboxViewController::selectedVersion() const
{
    return m_version->checkedId() == rawVersion ? rawVersion : optimizedVersion;
}

bool InboxViewController::indexInside(qint64 index) const
{
    return index >= 0 && index < clips().size();
}

bool InboxViewController::hasUnsavedEdits() const
{
    return m_loaded && (m_titleField->text() != m_loaded->title || m_editor->text() != m_loaded->text);
}

QString InboxViewController::statusText() const
{
    return m_status->text();
}

void InboxViewController::setStatus(const QString &text, const std::optional<QColor> &color, const QString &explanation)
{
    m_status->setText(text);
    m_status->setAccessibleName(text);
    m_status->setAccessibleDescription(explanation);
    m_status->setToolTip(explanation.isEmpty() ? QString() : Qt::convertFromPlainText(explanation));
    if (color) {
        m_statusColor = *color;
        setColour(m_status, QPalette::WindowText, m_statusColor);
    }
}

void InboxViewController::setSaveTitle(const QString &title)
{
    m_saveButton->setText(title);
    m_saveButton->setAccessibleName(title);
}

void InboxViewController::updateSaveEnabled()
{
    if (!indexInside(m_selectedIndex)) {
        m_saveButton->setEnabled(false);
        return;
    }
    const Clip &clip = clips().at(m_selectedIndex);
    // One save per clip at a time: a second one could overtake the first at the service and
    // leave the older text stored.
    m_saveButton->setEnabled(clip.canEdit && !m_saving.contains(clip.id));
}

void InboxViewController::showSelection(bool preserve)
{
    if (!indexInside(m_selectedIndex)) {
        m_titleField->clear();
        m_editor->setText({});
        m_loaded.reset();
        return;
    }
    const Clip &clip = clips().at(m_selectedIndex);
    const QString text = versionText(clip, selectedVersion());
    // Unchanged fields are left alone, so that the cursor and the undo history stay.
    if (m_titleField->text() != clip.title)
        m_titleField->setText(clip.title);
    if (m_editor->text() != text)
        m_editor->setText(text);
    m_loaded = Loaded{clip.id, clip.title, text};
    updateSaveEnabled();
    // A clip without optimized text opens on its raw text, unless the user has just chosen
    // "优化版": the editor shows the raw text under it then.
    if (clip.optimizedText.isEmpty() && selectedVersion() == optimizedVersion && !preserve) {
        // The program's own choice, not the user's: no versionChanged().
        const QSignalBlocker quiet(m_version);
        m_rawButton->setChecked(true);
    }
}

void InboxViewController::selectRow(qint64 row)
{
    const QModelIndex index = m_model->index(int(row));
    m_table->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    m_table->scrollTo(index);
}

void InboxViewController::tableViewSelectionDidChange()
{
    if (m_applyingPoll)
        return;
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    m_selectedIndex = rows.isEmpty() ? 0 : rows.first().row();
    showSelection(false);
}

void InboxViewController::versionChanged()
{
    // Edits whose clip has left the list stay until the user picks a row.
    if (!indexInside(m_selectedIndex) && hasUnsavedEdits())
        return;
    showSelection(true);
}

void InboxViewController::refresh()
{
    if (m_signedOut)
        return;
    const quint64 request = ++m_lastRequest;
    m_api->call<ClipList>(QStringLiteral("api/clips?limit=50"), "GET", std::nullopt, this,
                          [this, request](Outcome<ClipList> outcome) { handleFetch(request, outcome); });
}

void InboxViewController::handleFetch(quint64 request, const Outcome<ClipList> &outcome)
{
    if (m_signedOut || request <= m_listCurrentAsOf) {
        emit pollHandled(false);
        return;
    }
    if (!outcome.ok()) {
        setStatus(QStringLiteral("等待重连"), SystemColors::orange());
        emit pollHandled(false);
        return;
    }
    m_listCurrentAsOf = request;
    applyClips(outcome.value().clips);
    emit pollHandled(true);
}

void InboxViewController::applyClips(const QList<Clip> &newClips)
{
    const bool keepEdits = hasUnsavedEdits();
    std::optional<QString> selectedId;
    if (keepEdits)
        selectedId = m_loaded->clipId;
    else if (indexInside(m_selectedIndex))
        selectedId = clips().at(m_selectedIndex).id;
    const std::optional<QString> oldFirstId = clips().isEmpty() ? std::nullopt
                                                                : std::optional(clips().first().id);

    m_applyingPoll = true;
    m_model->setClips(newClips);
    const qint64 found = selectedId ? indexOfId(newClips, *selectedId) : -1;
    const bool orphanedEdits = keepEdits && found < 0;
    if (orphanedEdits) {
        // The clip being edited is gone from the list: its edits stay in the fields, no row is
        // selected, and nothing can be saved until the user picks a row.
        m_selectedIndex = -1;
        m_table->selectionModel()->clear();
    } else {
        m_selectedIndex = found >= 0 ? found : 0;
        if (newClips.isEmpty())
            m_table->selectionModel()->clear();
        else
            selectRow(m_selectedIndex);
    }
    m_applyingPoll = false;

    if (keepEdits)
        updateSaveEnabled();
    else
        showSelection(false);

    setStatus(QStringLiteral("实时同步"), SystemColors::green());

    if (!newClips.isEmpty() && oldFirstId && newClips.first().id != *oldFirstId)
        m_sound->play();
}

void InboxViewController::save()
{
    if (!indexInside(m_selectedIndex))
        return;
    const Clip &clip = clips().at(m_selectedIndex);
    if (!clip.canEdit || m_saving.contains(clip.id))
        return;

    Clip sent = clip;
    sent.title = m_titleField->text();
    const int version = selectedVersion();
    (version == optimizedVersion ? sent.optimizedText : sent.rawText) = m_editor->text();

    m_saving.insert(sent.id);
    m_saveButton->setEnabled(false);
    m_api->save(sent, this,
                [this, sent, version](Outcome<Clip> outcome) { handleSave(sent, version, outcome); });
}

void InboxViewController::handleSave(const Clip &sent, int sentVersion, const Outcome<Clip> &outcome)
{
    m_saving.remove(sent.id);
    // A reply about another clip would overwrite that clip's row with this one's text.
    if (!outcome.ok() || outcome.value().id != sent.id) {
        // A pending "已保存" reset must not hide the failure.
        qDeleteAll(findChildren<QTimer *>(saveTitleResetName, Qt::FindDirectChildrenOnly));
        setSaveTitle(saveFailedTitle);
        updateSaveEnabled();
        return;
    }

    const Clip &stored = outcome.value();
    // The clip may have moved since the save started: its row is found by id.
    const qint64 row = indexOfId(clips(), stored.id);
    if (row >= 0) {
        m_model->setClip(int(row), stored);
        // A poll sent before this point may still bring the clip as it was before the save.
        m_listCurrentAsOf = m_lastRequest;
        if (row == m_selectedIndex) {
            const bool fieldsHoldSent = selectedVersion() == sentVersion && m_titleField->text() == sent.title
                                        && m_editor->text()
                                               == (sentVersion == optimizedVersion ? sent.optimizedText : sent.rawText);
            // What the user typed after the save started stays.
            if (fieldsHoldSent || !hasUnsavedEdits())
                showSelection(true);
        }
    }
    setSaveTitle(savedTitle);
    updateSaveEnabled();
    // Every success resets the title on a timer of its own, a child of the window: a later
    // success does not postpone it, and none reaches a window that is gone.
    auto *reset = new QTimer(this);
    reset->setObjectName(saveTitleResetName);
    reset->setSingleShot(true);
    connect(reset, &QTimer::timeout, this, [this, reset] {
        reset->deleteLater();
        setSaveTitle(saveTitle);
    });
    reset->start(savedTitleDuration);
}

void InboxViewController::copyText()
{
    m_platform.pasteboard->setText(m_editor->text());
    setStatus(QStringLiteral("已复制"), std::nullopt);
}

void InboxViewController::pasteText()
{
    copyText();
    m_delivery->paste(m_editor->text());
}

void InboxViewController::logout()
{
    const QPointer<InboxViewController> self(this);
    const bool confirmed = confirm(this, {QStringLiteral("退出当前账号？"),
                                          QStringLiteral("只清除这台 Mac 的登录状态，不会删除云端内容。"),
                                          QStringLiteral("退出登录")});
    // The window may be destroyed while the alert waits.
    if (!confirmed || !self)
        return;
    m_pollTimer->stop();
    m_signedOut = true;
    m_api->token.reset();
    m_store->remove();
    // The host may delete the window from inside the callback: run a copy.
    const std::function<void()> onLogout = m_onLogout;
    if (onLogout)
        onLogout();
}

} // namespace quillpost
