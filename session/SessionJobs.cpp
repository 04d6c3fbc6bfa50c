#include "session/Session.h"

#include "net/OrvexUrl.h"
#include "session/CoordinateField.h"
#include "session/JobGrid.h"
#include "session/JobReply.h"
#include "views/HighResPreview.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QSpinBox>

namespace {
bool isUnset(const CoordinateTriple& corner)
{
    return corner.x == 0.0f && corner.y == 0.0f;
}
} // namespace

void Session::setC1()
{
    jobTopLeft.x = CoordinateField::read(xCoord->text());
    jobTopLeft.y = CoordinateField::read(yCoord->text());
    const bool accepted =
        isUnset(jobBottomRight) || (jobTopLeft.x <= jobBottomRight.x && jobTopLeft.y <= jobBottomRight.y);
    if (!accepted) {
        jobTopLeft.x = 0;
        jobTopLeft.y = 0;
    }
    // A refused corner leaves (0, 0) in force: show and count that, so the
    // preview and the count match what "Create Job" would send.
    highRes->setCorner1(jobTopLeft);
    if (!accepted || (jobBottomRight.x != 0.0f && jobBottomRight.y != 0.0f))
        calcNumMovies();
}

void Session::setC2()
{
    jobBottomRight.x = CoordinateField::read(xCoord->text());
    jobBottomRight.y = CoordinateField::read(yCoord->text());
    if (!(jobBottomRight.x >= jobTopLeft.x && jobBottomRight.y >= jobTopLeft.y)) {
        jobBottomRight.x = 0;
        jobBottomRight.y = 0;
    }
    highRes->setCorner2(jobBottomRight);
    calcNumMovies();
}

void Session::calcNumMovies()
{
    const int density = densityBox->value();
    highRes->setLinearDensity(density);
    sampleCount = JobGrid::count(jobTopLeft, jobBottomRight, density);
    totalBox->setText(QString::asprintf("%i", sampleCount));
    highRes->updateSelection();
}

void Session::handleJobReset()
{
    jobTopLeft.x = 0;
    jobTopLeft.y = 0;
    jobBottomRight.x = 0;
    jobBottomRight.y = 0;
    highRes->setCorner2(jobBottomRight);
    highRes->setCorner1(jobTopLeft);
    highRes->setLinearDensity(0);
    highRes->corner1Set = false;
    highRes->corner2Set = false;
    totalBox->setText(QStringLiteral("0"));
    calcNumMovies();
    highRes->updateSelection();
}

void Session::handleCreateJob()
{
    const QString typed = jobNameEdit->text();
    if (typed.simplified().isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Error: Cannot create job."),
                             QStringLiteral("You must enter a name for your job."), QMessageBox::Ok);
        return;
    }
    if (sampleCount <= 0)
        return;

    const double tlx = double(jobTopLeft.x) * 10000.0;
    const double tly = double(jobTopLeft.y) * 10000.0;
    const double brx = double(jobBottomRight.x) * 10000.0;
    const double bry = double(jobBottomRight.y) * 10000.0;
    const int density = densityBox->value();
    const QString parameters = QStringLiteral("&ld=%1&tlx=%2&tly=%3&brx=%4&bry=%5&n=")
                                   .arg(density)
                                   .arg(tlx, 0, 'f', 4)
                                   .arg(tly, 0, 'f', 4)
                                   .arg(brx, 0, 'f', 4)
                                   .arg(bry, 0, 'f', 4);
    // The name goes out with its blanks, percent-encoded so '&' or '#' in it
    // cannot cut the request.
    const QString query = QStringLiteral("f=cj&auth=") + link.token() + parameters + OrvexUrl::encode(typed);

    // The selection is reset at once; keep enough to resubmit from the message.
    pendingJobName = typed;
    pendingJobParameters = QString::asprintf("corners (%.4f, %.4f) mm and (%.4f, %.4f) mm, %i samples / mm, "
                                             "%i sampling points",
                                             double(jobTopLeft.x), double(jobTopLeft.y), double(jobBottomRight.x),
                                             double(jobBottomRight.y), density, sampleCount);
    jobFetcher.setUrl(sessionUrl(query));
    jobFetcher.start();

    jobNameEdit->clear();
    handleJobReset();
}

void Session::jobReplyArrived()
{
    const QString job = QStringLiteral("Job ") + pendingJobName;
    if (!jobFetcher.succeeded()) {
        appendInfo(QStringLiteral("***") + job +
                   QStringLiteral(" was not accepted: the server could not be reached. (") + pendingJobParameters +
                   QStringLiteral(")"));
        return;
    }
    const JobReply reply = JobReply::read(jobFetcher.data(), jobFetcher.length());
    if (reply.accepted) {
        appendInfo((job + QStringLiteral(" submitted. ") + reply.text).trimmed());
        showNotice(job + QStringLiteral(" submitted."));
    } else {
        appendInfo(QStringLiteral("***") + job + QStringLiteral(" was not accepted: ") + reply.text +
                   QStringLiteral(" (") + pendingJobParameters + QStringLiteral(")"));
    }
}
