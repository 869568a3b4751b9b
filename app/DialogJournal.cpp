#include "DialogJournal.h"

#include "dialogs/common/PaletteColours.h"

#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

enum ResultChoice { AllResults = 0, OkResults = 1, RefusedResults = 2 };

// Channel numbers in numeric order, then the words ("crate", "module").
bool channelBefore(const QString& a, const QString& b)
{
    bool aNumber = false;
    bool bNumber = false;
    const int aValue = a.toInt(&aNumber);
    const int bValue = b.toInt(&bNumber);
    if (aNumber != bNumber)
        return aNumber;
    return aNumber ? aValue < bValue : a < b;
}

} // namespace

DialogJournal::DialogJournal(const WriteJournal& journal, QWidget* parent)
    : QDialog(parent)
    , m_journal(journal)
    , m_channelFilter(new QComboBox(this))
    , m_resultFilter(new QComboBox(this))
    , m_table(new QTableWidget(this))
    , m_fileLabel(new QLabel(this))
    , m_failureBanner(new QLabel(this))
    , m_reloadTimer(new QTimer(this))
{
    setObjectName(QStringLiteral("DialogJournal"));
    setWindowTitle(tr("Journal"));
    resize(980, 480);

    m_channelFilter->setObjectName(QStringLiteral("channelFilter"));
    m_resultFilter->setObjectName(QStringLiteral("resultFilter"));
    m_table->setObjectName(QStringLiteral("journalTable"));
    m_resultFilter->addItems({tr("All results"), tr("ok"), tr("Refused or no result")});
    m_channelFilter->addItem(tr("All channels"));

    auto* filters = new QHBoxLayout;
    filters->addWidget(new QLabel(tr("Channel:"), this));
    filters->addWidget(m_channelFilter);
    filters->addSpacing(12);
    filters->addWidget(new QLabel(tr("Result:"), this));
    filters->addWidget(m_resultFilter);
    filters->addStretch();

    const QStringList headers{tr("Time (UTC)"), tr("Crate"), tr("Slot"), tr("Serial"), tr("Channel"), tr("Quantity"),
        tr("Value"), tr("Source"), tr("User"), tr("Host"), tr("Program"), tr("Result")};
    m_table->setColumnCount(int(headers.size()));
    m_table->setHorizontalHeaderLabels(headers);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->setVisible(false);
    m_table->horizontalHeader()->setStretchLastSection(true);

    m_fileLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_fileLabel->setText(tr("Journal file: %1").arg(m_journal.filePath()));

    m_failureBanner->setObjectName(QStringLiteral("journalFailureBanner"));
    m_failureBanner->setWordWrap(true);
    m_failureBanner->setStyleSheet(QStringLiteral("QLabel { background: #c00000; color: white; padding: 4px; }"));
    showFailure();
    // Emitted on whichever thread wrote the line; the journal's state when it arrives counts (two
    // threads' signals may arrive in either order).
    connect(&m_journal, &WriteJournal::failingChanged, this, &DialogJournal::showFailure, Qt::QueuedConnection);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_failureBanner);
    layout->addLayout(filters);
    layout->addWidget(m_table);
    layout->addWidget(m_fileLabel);

    connect(m_channelFilter, &QComboBox::currentIndexChanged, this, &DialogJournal::applyFilters);
    connect(m_resultFilter, &QComboBox::currentIndexChanged, this, &DialogJournal::applyFilters);
    m_reloadTimer->setInterval(reloadIntervalMs);
    connect(m_reloadTimer, &QTimer::timeout, this, &DialogJournal::reloadWhenChanged);
}

void DialogJournal::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    reload();
    m_reloadTimer->start();
}

void DialogJournal::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    // A hidden window reads nothing.
    m_reloadTimer->stop();
}

void DialogJournal::showFailure()
{
    m_failureBanner->setText(m_journal.failure());
    m_failureBanner->setVisible(m_journal.isFailing());
}

void DialogJournal::reloadWhenChanged()
{
    const QFileInfo file(m_journal.filePath());
    if (file.size() != m_readSize || file.lastModified() != m_readModified)
        reload();
}

void DialogJournal::reload()
{
    const QFileInfo file(m_journal.filePath());
    m_readSize = file.exists() ? file.size() : -1;
    m_readModified = file.lastModified();
    const QStringList lines = m_journal.latestLines(shownLines);
    QVector<JournalLine> parsed;
    parsed.reserve(lines.size());
    for (const QString& text : lines) {
        JournalLine line;
        if (JournalLine::parse(text, &line))
            parsed.append(line);
    }
    parsed = pairedLines(parsed);
    m_lines = QVector<JournalLine>(parsed.crbegin(), parsed.crend());
    updateChannelChoices();
    applyFilters();
}

void DialogJournal::updateChannelChoices()
{
    QStringList channels;
    for (const JournalLine& line : qAsConst(m_lines)) {
        if (!channels.contains(line.channel))
            channels.append(line.channel);
    }
    std::sort(channels.begin(), channels.end(), channelBefore);
    const QString chosen = m_channelFilter->currentIndex() > 0 ? m_channelFilter->currentText() : QString();
    const QSignalBlocker blocker(m_channelFilter);
    m_channelFilter->clear();
    m_channelFilter->addItem(tr("All channels"));
    m_channelFilter->addItems(channels);
    // A chosen channel stays chosen even when the lines read no longer name it.
    if (!chosen.isEmpty()) {
        if (m_channelFilter->findText(chosen) < 0)
            m_channelFilter->addItem(chosen);
        m_channelFilter->setCurrentIndex(m_channelFilter->findText(chosen));
    }
}

void DialogJournal::applyFilters()
{
    const QString channel = m_channelFilter->currentIndex() > 0 ? m_channelFilter->currentText() : QString();
    const int result = m_resultFilter->currentIndex();
    m_table->setRowCount(0);
    for (const JournalLine& line : qAsConst(m_lines)) {
        if (!channel.isEmpty() && line.channel != channel)
            continue;
        if ((result == OkResults && !line.ok()) || (result == RefusedResults && line.ok()))
            continue;
        const int row = m_table->rowCount();
        m_table->insertRow(row);
        const QStringList cells{line.time, line.crateAddress, line.slot, line.serialNumber, line.channel, line.quantity,
            line.value, line.source, line.user, line.host, line.program, line.isSent() ? noResultText() : line.result};
        // A red that reads on the table's background, light or dark.
        const QColor refused = PaletteColours::errorText(m_table->palette());
        for (int column = 0; column < cells.size(); ++column) {
            auto* item = new QTableWidgetItem(cells.at(column));
            // A write whose result is unknown may have been taken: dark orange, not the red of a
            // refusal.
            if (line.isSent())
                item->setForeground(QColor(0xb0, 0x50, 0x00));
            else if (!line.ok())
                item->setForeground(refused);
            m_table->setItem(row, column, item);
        }
    }
    m_table->resizeColumnsToContents();
}

QVector<JournalLine> DialogJournal::pairedLines(const QVector<JournalLine>& lines)
{
    QVector<JournalLine> rows;
    rows.reserve(lines.size());
    // The row of each "sent" line still waiting for its result, by program, host and entry.
    QHash<QString, int> waiting;
    const auto key = [](const JournalLine& line) {
        return line.host + QLatin1Char('\t') + line.program + QLatin1Char('\t') + line.entry;
    };
    for (const JournalLine& line : lines) {
        const bool paired = !line.entry.isEmpty() && line.entry != QLatin1String("-");
        if (paired && line.isSent()) {
            waiting.insert(key(line), int(rows.size()));
        } else if (paired) {
            const int row = waiting.contains(key(line)) ? waiting.take(key(line)) : -1;
            if (row >= 0) {
                rows[row].result = line.result;
                continue;
            }
        }
        rows.append(line);
    }
    return rows;
}

int DialogJournal::shownRowCount() const
{
    return m_table->rowCount();
}
