#include "buswatch.h"

#include "managecancommunication.h"
#include "runlimits.h"

BusWatch::BusWatch(ManageCanCommunication &communication)
    : communication_(communication)
    , clock_(communication.clock())
{}

bool BusWatch::lost()
{
    lastRead_ = clock_.now();
    return communication_.connectionLost();
}

bool BusWatch::lostDue()
{
    if (lastRead_ && clock_.now() - *lastRead_ < runlimits::BusStatusEvery)
        return false;
    return lost();
}
