#include "fakedriver.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>

namespace fakedriver {

namespace {

struct Frame
{
    uint16_t word;
    QByteArray data;
};

struct State
{
    std::mutex mutex;
    std::condition_variable queued;
    std::condition_variable wrote;
    std::deque<Frame> rx;
    QList<Sent> sent;
    std::string status = "OK";
    bool initResult = true;
    Calls calls;
    uint16_t ackRequest = 0;
    uint16_t ackAnswer = 0;
    int dropFrame = 0;
    int flashFrames = 0;
    bool outstanding = false;
    int overlapping = 0;
    uint16_t restartCommand = 0;
    uint16_t restartLogOn = 0;
};

State &state()
{
    static State s;
    return s;
}

uint8_t connectHw(uint8_t kind)
{
    std::lock_guard lock(state().mutex);
    ++state().calls.connect;
    state().calls.adapterKind = kind;
    return 1;
}

uint8_t initCan(uint16_t, uint8_t, uint32_t, char *)
{
    return 0;
}

uint8_t extendedInit(uint16_t, uint16_t, uint32_t, uint8_t, char *text)
{
    std::lock_guard lock(state().mutex);
    ++state().calls.extendedInit;
    if (std::strcmp(text, "tarvCanFLash") != 0)
        return 0;
    return state().initResult ? 1 : 0;
}

void reInit(uint16_t)
{
    std::lock_guard lock(state().mutex);
    ++state().calls.reInit;
}

void reInitClient(uint16_t, const char *) {}
void logOnOff(uint16_t, uint8_t, char *) {}

// Called with the lock held: the module side of a flash data frame.
bool acknowledge(State &s, uint16_t word, const uint8_t *frame)
{
    if (s.ackRequest == 0 || word != s.ackRequest || frame[0] < 2 || frame[1] != 0x15 || frame[2] != 0)
        return false;
    if (s.outstanding)
        ++s.overlapping;
    if (++s.flashFrames == s.dropFrame) {
        s.outstanding = false;
        return false;
    }
    s.outstanding = true;
    s.rx.push_back({s.ackAnswer, QByteArray("\x15\x00", 2)});
    return true;
}

// Called with the lock held: a restart answered by an immediate log-on, and
// the sender held until the flasher's answer to it is written.
void answerRestart(State &s, std::unique_lock<std::mutex> &lock, uint16_t word, const QByteArray &data)
{
    if (s.restartCommand == 0 || word != s.restartCommand || data != QByteArray("\x15\x06", 2))
        return;
    const qsizetype before = s.sent.size();
    s.rx.push_back({s.restartLogOn, QByteArray("\xD8\x03\x11", 3)});
    s.queued.notify_all();
    const QByteArray logOnAnswer("\xD8\x01", 2);
    s.wrote.wait_for(lock, std::chrono::seconds(10), [&] {
        for (qsizetype i = before; i < s.sent.size(); ++i) {
            if (s.sent[i].word == word && s.sent[i].data == logOnAnswer)
                return true;
        }
        return false;
    });
}

void write2Can(uint16_t word, const uint8_t *frame, char *text)
{
    bool answered = false;
    {
        std::unique_lock lock(state().mutex);
        ++state().calls.write;
        const QByteArray data(reinterpret_cast<const char *>(frame + 1), frame[0]);
        state().sent.append({word, data});
        std::strcpy(text, "00:00:00.000");
        answered = acknowledge(state(), word, frame);
        state().wrote.notify_all();
        answerRestart(state(), lock, word, data);
    }
    if (answered)
        state().queued.notify_all();
}

void write2CanRtr(uint16_t, char *) {}

uint8_t readfBuff(uint16_t, uint16_t *word, uint8_t *frame, char *text)
{
    std::lock_guard lock(state().mutex);
    ++state().calls.read;
    if (state().rx.empty())
        return 0;
    const Frame next = state().rx.front();
    if (next.word == state().ackAnswer && next.data == QByteArray("\x15\x00", 2))
        state().outstanding = false;
    state().rx.pop_front();
    *word = next.word;
    frame[0] = static_cast<uint8_t>(next.data.size());
    std::memcpy(frame + 1, next.data.constData(), static_cast<size_t>(next.data.size()));
    std::strcpy(text, "00:00:00.000");
    return 1;
}

uint8_t waitForFrame(uint16_t, uint32_t timeoutMs)
{
    std::unique_lock lock(state().mutex);
    return state().queued.wait_for(lock, std::chrono::milliseconds(timeoutMs), [] { return !state().rx.empty(); })
               ? 1
               : 0;
}

char *getStatus(uint8_t, char *text)
{
    std::lock_guard lock(state().mutex);
    ++state().calls.status;
    std::strcpy(text, state().status.c_str());
    return text;
}

void resetCan(uint8_t) {}

const char *version()
{
    std::lock_guard lock(state().mutex);
    ++state().calls.version;
    return "4.01p-and-a-long-tail";
}

} // namespace

void reset()
{
    std::lock_guard lock(state().mutex);
    state().rx.clear();
    state().sent.clear();
    state().status = "OK";
    state().initResult = true;
    state().calls = Calls{};
    state().ackRequest = state().ackAnswer = 0;
    state().dropFrame = state().flashFrames = state().overlapping = 0;
    state().outstanding = false;
    state().restartCommand = state().restartLogOn = 0;
}

void autoAcknowledge(uint16_t requestWord, uint16_t answerWord, int dropFrame)
{
    std::lock_guard lock(state().mutex);
    state().ackRequest = requestWord;
    state().ackAnswer = answerWord;
    state().dropFrame = dropFrame;
    state().flashFrames = 0;
}

void logOnAtRestart(uint16_t commandWord, uint16_t answerWord)
{
    std::lock_guard lock(state().mutex);
    state().restartCommand = commandWord;
    state().restartLogOn = answerWord;
}

int overlappingFrames()
{
    std::lock_guard lock(state().mutex);
    return state().overlapping;
}

void pushFrame(uint16_t word, const QByteArray &data)
{
    {
        std::lock_guard lock(state().mutex);
        state().rx.push_back({word, data});
    }
    state().queued.notify_all();
}

QList<Sent> sent()
{
    std::lock_guard lock(state().mutex);
    return state().sent;
}

void clearSent()
{
    std::lock_guard lock(state().mutex);
    state().sent.clear();
}

void setStatus(const char *text)
{
    std::lock_guard lock(state().mutex);
    state().status = text;
}

void setInitResult(bool ok)
{
    std::lock_guard lock(state().mutex);
    state().initResult = ok;
}

Calls calls()
{
    std::lock_guard lock(state().mutex);
    return state().calls;
}

CanDriverFunctions table(bool withWaitForFrame)
{
    CanDriverFunctions t;
    t.ConnectCANHw2Driver = connectHw;
    t.InitCan = initCan;
    t.ExtendedInitCan = extendedInit;
    t.ReInitCanSystem = reInit;
    t.ReInitCanClient = reInitClient;
    t.LogOnOff = logOnOff;
    t.Write2Can = write2Can;
    t.Write2CanRtr = write2CanRtr;
    t.ReadfBuff = readfBuff;
    t.GetCanStatus = getStatus;
    t.ResetCan = resetCan;
    t.GetDLLVer = version;
    t.WaitForFrame = withWaitForFrame ? waitForFrame : nullptr;
    return t;
}

} // namespace fakedriver
