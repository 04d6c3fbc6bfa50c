#include "acquire/JobSubmitter.h"

#include "acquire/JobReply.h"
#include "acquire/SessionLink.h"
#include "net/OrvexUrl.h"

JobSubmitter::JobSubmitter(SessionLink& sessionLink, QObject* parent)
    : QObject(parent)
    , link(sessionLink)
{
    connect(&jobFetcher, qOverload<>(&MyHTTP::done), this, &JobSubmitter::replyArrived);
}

void JobSubmitter::submit(const QString& name, QPointF topLeftMm, QPointF bottomRightMm, int density, int samples)
{
    const QString parameters = QStringLiteral("&ld=%1&tlx=%2&tly=%3&brx=%4&bry=%5&n=")
                                   .arg(density)
                                   .arg(topLeftMm.x() * 10000.0, 0, 'f', 4)
                                   .arg(topLeftMm.y() * 10000.0, 0, 'f', 4)
                                   .arg(bottomRightMm.x() * 10000.0, 0, 'f', 4)
                                   .arg(bottomRightMm.y() * 10000.0, 0, 'f', 4);
    // The name goes out with its blanks, percent-encoded so '&' or '#' in it
    // cannot cut the request.
    const QString query = QStringLiteral("f=cj&auth=") + link.token() + parameters + OrvexUrl::encode(name);

    // The caller resets its selection at once; keep enough to resubmit from the message.
    pendingName = name;
    pendingParameters =
        QString::asprintf("corners (%.4f, %.4f) mm and (%.4f, %.4f) mm, %i samples / mm, "
                          "%i sampling points",
                          topLeftMm.x(), topLeftMm.y(), bottomRightMm.x(), bottomRightMm.y(), density, samples);
    jobFetcher.setUrl(link.url(query));
    jobFetcher.start();
}

void JobSubmitter::stop()
{
    // An empty address aborts the request in flight without a report and sends nothing later.
    jobFetcher.setUrl(QString());
}

void JobSubmitter::replyArrived()
{
    const QString job = QStringLiteral("Job ") + pendingName;
    if (!jobFetcher.succeeded()) {
        emit message(QStringLiteral("***") + job +
                     QStringLiteral(" was not accepted: the server could not be reached. (") + pendingParameters +
                     QStringLiteral(")"));
        return;
    }
    const JobReply reply = JobReply::read(jobFetcher.data(), jobFetcher.length());
    if (reply.accepted)
        emit submitted(job, reply.text);
    else
        emit message(QStringLiteral("***") + job + QStringLiteral(" was not accepted: ") + reply.text +
                     QStringLiteral(" (") + pendingParameters + QStringLiteral(")"));
}
