#include "ArchiveAnswers.h"

#include <QTest>

namespace {
constexpr int answerWithinMs = 15000;

template <typename Ask>
void await(Ask ask, QString* error)
{
    bool answered = false;
    QString problem;
    QObject receiver;
    ask(&receiver, &answered, &problem);
    if (!QTest::qWaitFor([&] { return answered; }, answerWithinMs))
        problem = QStringLiteral("the archive did not answer within %1 ms").arg(answerWithinMs);
    if (error)
        *error = problem;
}
} // namespace

QVector<ArchiveEvent> ArchiveAnswers::events(Archive& archive, const EventFilter& filter, QString* error)
{
    QVector<ArchiveEvent> result;
    await(
        [&](QObject* receiver, bool* answered, QString* problem) {
            archive.findEvents(
                filter, receiver, [&result, answered, problem](const QVector<ArchiveEvent>& events, const QString& e) {
                    result = events;
                    *problem = e;
                    *answered = true;
                });
        },
        error);
    return result;
}

std::vector<ChannelHistory::Point> ArchiveAnswers::curve(
    Archive& archive, const QString& module, int channel, qint64 fromUtcMs, qint64 toUtcMs, QString* error)
{
    std::vector<ChannelHistory::Point> result;
    await(
        [&](QObject* receiver, bool* answered, QString* problem) {
            archive.findCurve(module, channel, fromUtcMs, toUtcMs, receiver,
                [&result, answered, problem](const std::vector<ChannelHistory::Point>& points, const QString& e) {
                    result = points;
                    *problem = e;
                    *answered = true;
                });
        },
        error);
    return result;
}
