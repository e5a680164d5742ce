#include "buswatch.h"

#include "managecancommunication.h"
#include "runlimits.h"

bool BusWatch::lost()
{
    sinceRead_.start();
    return communication_.connectionLost();
}

bool BusWatch::lostDue()
{
    if (sinceRead_.isValid()
        && std::chrono::milliseconds(sinceRead_.elapsed()) < runlimits::BusStatusEvery)
        return false;
    return lost();
}
