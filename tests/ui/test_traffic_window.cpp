// The Traffic window's model, the "View" menu, and the files the panel keeps.
#include "panel_rig.h"
#include "record/event_log.h"
#include "record/event_log_file.h"
#include "record/traffic_text.h"
#include "ui/save_dialog.h"
#include "ui/traffic_model.h"
#include "ui/traffic_window.h"
#include "ui/view_menu.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace valve::ui {
namespace {

using record::TrafficKind;

void exchange(record::TrafficRecord& record, const QString& label, QByteArray request, QByteArray reply,
              bool timesOut = false) {
    record.beginOperation(label);
    record.add(TrafficKind::Sent, request.constData(), request.size());
    for (const char c : reply) {
        record.add(TrafficKind::Received, &c, 1);
    }
    if (timesOut) {
        record.add(TrafficKind::TimedOut);
    }
    record.endOperation();
}

QStringList column(const TrafficModel& model, int column) {
    QStringList cells;
    for (int row = 0; row < model.rowCount(); ++row) {
        cells << model.index(row, column).data().toString();
    }
    return cells;
}

TEST(TrafficModel, RowsFoldingFilterAndBatches) {
    record::TrafficRecord record;
    exchange(record, "Read Status", "S\r", "01\r");
    exchange(record, "Read Clock", "G20\r", "1", true);
    TrafficModel model(record);
    EXPECT_EQ(model.rowCount(), 7);
    EXPECT_EQ(model.rowText(6).section('\t', 1, 1), "← timed out");
    EXPECT_EQ(model.rowText(0).section('\t', 1), "→ sent\tS␍\t53 0D\t#1 Read Status\t");

    model.setFolded(true);
    const QRegularExpression foldedRows("^S␍ → 01␍ in \\d+\\.\\d ms\nG20␍ → 1 … timed out after [^\n]+$");
    const QString folded = column(model, TrafficModel::Text).join('\n');
    EXPECT_TRUE(foldedRows.match(folded).hasMatch()) << folded.toStdString();
    EXPECT_EQ(column(model, TrafficModel::Hex)[1], "47 32 30 0D → 31");

    model.setFilter("clock", TrafficModel::Directions::Both);
    EXPECT_EQ(column(model, TrafficModel::Operation), QStringList{"#2 Read Clock"});
    model.setFolded(false);
    model.setFilter("", TrafficModel::Directions::Received);
    EXPECT_EQ(model.rowCount(), 5);

    // New traffic comes in as one insertion per batch, never as a reset; a
    // folded exchange that gains its reply changes in place.
    model.setFilter("", TrafficModel::Directions::Both);
    model.setFolded(true);
    QStringList changes;
    QObject::connect(&model, &QAbstractItemModel::rowsInserted, [&](const QModelIndex&, int first, int last) {
        changes << QStringLiteral("%1 inserted").arg(last - first + 1);
    });
    QObject::connect(&model, &QAbstractItemModel::dataChanged, [&] { changes << "changed"; });
    QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { changes << "reset"; });
    exchange(record, "Read Error", "E\r", "");
    exchange(record, "Read Op Mode", "Q\r", "00\r");
    model.update();
    record.beginOperation("Home the Valve");
    record.add(TrafficKind::Sent, "M\r", 2);
    model.update();
    record.add(TrafficKind::Received, "\r", 1);
    model.update();
    EXPECT_EQ(changes, QStringList({"2 inserted", "1 inserted", "changed"}));
    EXPECT_EQ(column(model, TrafficModel::Text).at(2), "E␍ → …");
}

QStringList fileLines(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
                                          : QStringList{"(cannot be read)"};
}

TEST(KeptFiles, TheEventsLogAndTheTrafficAreWrittenWholeAndAFailureIsToldOnceAndLeavesTheEarlierFile) {
    QTemporaryDir dir;
    record::EventLog log;
    const QString kept = dir.filePath("week.log");
    for (const QString& path : {kept, dir.filePath("missing/week.log"), QStringLiteral("/dev/full")}) {
        new record::EventLogFile(log, path);
    }
    log.show_msg("Found 1 Nerra unit through USB");
    log.show_msg("Read, then, \"quoted\"");
    EXPECT_EQ(log.lines().filter("Could not write the log file ").size(), 2);
    ASSERT_EQ(record::saveEventsLog(log, dir.filePath("saved.txt")), QString());
    const QStringList lines = fileLines(kept);
    EXPECT_EQ(fileLines(dir.filePath("saved.txt")), lines);
    ASSERT_EQ(lines.size(), log.lines().size());
    for (int i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].section('\t', 1), log.lines()[i]);
        EXPECT_EQ(QDateTime::fromString(lines[i].section('\t', 0, 0), Qt::ISODateWithMs), log.times()[i]);
    }

    record::TrafficRecord record;
    exchange(record, "Set Pos A Port, \"valvectl\"", "A05\r", "\r");
    const QString csvPath = dir.filePath("traffic.csv");
    ASSERT_EQ(record::saveTrafficCsv(record, csvPath), QString());
    const QStringList rows = fileLines(csvPath);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[1].section(',', 1), "→ sent,1,\"Set Pos A Port, \"\"valvectl\"\"\",A05␍,41 30 35 0D,");
    EXPECT_TRUE(QRegularExpression(",← received,1,.*,␍,0D,\\d+\\.\\d{3}$").match(rows[2]).hasMatch());

    // A missing folder, a full disk (a file size limit stands in for it), a pipe that must stay a pipe.
    const QString pipe = dir.filePath("pipe.csv");
    ASSERT_EQ(::mkfifo(pipe.toLocal8Bit().constData(), 0600), 0);
    const std::tuple<QString, rlim_t, QString> failures[] = {
        {dir.filePath("missing/traffic.csv"), RLIM_INFINITY, ""},
        {csvPath, 64, ""},
        {pipe, RLIM_INFINITY, "not a regular file"}};
    testing::ScriptedBoxes boxes;
    const FileSaver saveTraffic = [&](const QString& path) { return record::saveTrafficCsv(record, path); };
    std::signal(SIGXFSZ, SIG_IGN);
    for (const auto& [path, fileSizeLimit, reason] : failures) {
        rlimit before{};
        getrlimit(RLIMIT_FSIZE, &before);
        const rlimit limited{fileSizeLimit, before.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limited);
        testing::await(saveOrTell(path, saveTraffic, boxes));
        setrlimit(RLIMIT_FSIZE, &before);
        const QString told = std::exchange(boxes.texts, {}).value(0);
        EXPECT_TRUE(told.startsWith("Could not save " + path + ": " + reason)) << path.toStdString();
    }
    EXPECT_EQ(fileLines(csvPath), rows);
    EXPECT_FALSE(QFileInfo(pipe).isFile());
}

TEST(ViewMenu, CtrlTOpensOneTrafficWindowThatShowsTheCommands) {
    testing::PanelRig rig;
    ASSERT_TRUE(rig.startClean());
    auto* menu = rig.window().findChild<ViewMenu*>();
    auto* traffic = rig.window().findChild<QAction*>("mnuTraffic");
    ASSERT_NE(traffic, nullptr);
    EXPECT_EQ(traffic->shortcut(), QKeySequence("Ctrl+T"));
    traffic->trigger();
    TrafficWindow* opened = menu->trafficWindow();
    traffic->trigger();
    EXPECT_EQ(menu->trafficWindow(), opened);

    rig.c().cmd_status->click();
    ASSERT_TRUE(testing::runUntil([&] { return opened->model().rowCount() >= 4; }));
    EXPECT_EQ(opened->model().rowText(opened->model().rowCount() - 1).section('\t', 1, 4),
              "← received\t␍\t0D\t#1 Read Status");
    rig.window().close();
    EXPECT_TRUE(testing::runUntil([&] { return menu->trafficWindow() == nullptr; }));
}

} // namespace
} // namespace valve::ui
