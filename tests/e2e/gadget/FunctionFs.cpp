#include "tests/e2e/gadget/FunctionFs.h"

#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "base/Bytes.h"

namespace brev::gadget {

namespace {

constexpr uint8_t kClassMassStorage = 0x08, kSubclassScsi = 0x06, kProtocolBulkOnly = 0x50;
constexpr uint8_t kGetMaxLun = 0xFE, kBulkOnlyReset = 0xFF;
// Each endpoint read or write is one kernel request of at most this size.
constexpr std::size_t kChunk = 64 * 1024;
// Larger data phases are refused; the host stack never asks for this much in one command.
constexpr uint32_t kMaxDataLength = 16u << 20;

void AppendLe16(std::vector<uint8_t>& v, uint16_t x) {
    v.resize(v.size() + 2);
    PutLe16(v.data() + v.size() - 2, x);
}
void AppendLe32(std::vector<uint8_t>& v, uint32_t x) {
    v.resize(v.size() + 4);
    PutLe32(v.data() + v.size() - 4, x);
}

void AddInterface(std::vector<uint8_t>& v) {
    v.insert(v.end(), {USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, 0, 0, 2, kClassMassStorage, kSubclassScsi,
                       kProtocolBulkOnly, 1});
}
void AddBulkEndpoint(std::vector<uint8_t>& v, uint8_t address, uint16_t maxPacket) {
    v.insert(v.end(), {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, address, USB_ENDPOINT_XFER_BULK});
    AppendLe16(v, maxPacket);
    v.push_back(0);
}
void AddCompanion(std::vector<uint8_t>& v) {
    v.insert(v.end(), {USB_DT_SS_EP_COMP_SIZE, USB_DT_SS_ENDPOINT_COMP, 0, 0, 0, 0});
}

// Reads until `length` bytes or a short transfer; -1 with errno on failure.
ssize_t ReadData(int fd, uint8_t* data, std::size_t length) {
    std::size_t done = 0;
    while (done < length) {
        const std::size_t chunk = std::min(length - done, kChunk);
        const ssize_t n = ::read(fd, data + done, chunk);
        if (n < 0) return -1;
        done += std::size_t(n);
        if (std::size_t(n) < chunk) break;
    }
    return ssize_t(done);
}

bool WriteData(int fd, const uint8_t* data, std::size_t length) {
    std::size_t done = 0;
    while (done < length) {
        const std::size_t chunk = std::min(length - done, kChunk);
        const ssize_t n = ::write(fd, data + done, chunk);
        if (n <= 0) return false;
        done += std::size_t(n);
    }
    return true;
}

void NoOpHandler(int) {}

// FunctionFS reads O_NONBLOCK only while an endpoint is disabled: then the I/O fails with EAGAIN
// instead of waiting for the host to configure the device again.
void SetNonBlocking(int fd, bool on) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) (void)::fcntl(fd, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
}

}  // namespace

std::vector<uint8_t> MassStorageDescriptors() {
    std::vector<uint8_t> v;
    AppendLe32(v, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    AppendLe32(v, 0);  // total length, set below
    AppendLe32(v, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC | FUNCTIONFS_HAS_SS_DESC);
    AppendLe32(v, 3);  // full speed: interface, two endpoints
    AppendLe32(v, 3);  // high speed
    AppendLe32(v, 5);  // super speed: each endpoint with its companion
    const uint16_t maxPacket[] = {64, 512, 1024};
    for (int speed = 0; speed < 3; ++speed) {
        AddInterface(v);
        AddBulkEndpoint(v, 1 | USB_DIR_IN, maxPacket[speed]);
        if (speed == 2) AddCompanion(v);
        AddBulkEndpoint(v, 2 | USB_DIR_OUT, maxPacket[speed]);
        if (speed == 2) AddCompanion(v);
    }
    PutLe32(v.data() + 4, uint32_t(v.size()));
    return v;
}

std::vector<uint8_t> MassStorageStrings(const std::string& interfaceName) {
    std::vector<uint8_t> v;
    AppendLe32(v, FUNCTIONFS_STRINGS_MAGIC);
    AppendLe32(v, 0);
    AppendLe32(v, 1);  // strings per language
    AppendLe32(v, 1);  // languages
    AppendLe16(v, 0x0409);
    v.insert(v.end(), interfaceName.begin(), interfaceName.end());
    v.push_back(0);
    PutLe32(v.data() + 4, uint32_t(v.size()));
    return v;
}

FunctionFsService::FunctionFsService(MassStorageTarget& target, std::string ffsDir, LogFn log, bool verbose)
    : target_(target), ffsDir_(std::move(ffsDir)), log_(std::move(log)), verbose_(verbose) {}

FunctionFsService::~FunctionFsService() { Close(); }

void FunctionFsService::Log(const std::string& line) const {
    if (log_) log_(line);
}

bool FunctionFsService::Open(std::string& error) {
    ep0_ = ::open((ffsDir_ + "/ep0").c_str(), O_RDWR | O_CLOEXEC);
    if (ep0_ < 0) {
        error = "cannot open " + ffsDir_ + "/ep0: " + std::strerror(errno);
        return false;
    }
    const auto descriptors = MassStorageDescriptors();
    const auto strings = MassStorageStrings("Mass Storage");
    if (::write(ep0_, descriptors.data(), descriptors.size()) != ssize_t(descriptors.size()) ||
        ::write(ep0_, strings.data(), strings.size()) != ssize_t(strings.size())) {
        error = "FunctionFS refused the descriptors: " + std::string(std::strerror(errno));
        Close();
        return false;
    }
    // The endpoint files exist once the descriptors are in: ep1 is bulk-in, ep2 bulk-out.
    // Bulk-in only ever carries replies, which belong to the connection that asked: with the
    // device off the bus a write fails at once instead of waiting to land in the next one.
    in_ = ::open((ffsDir_ + "/ep1").c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    out_ = ::open((ffsDir_ + "/ep2").c_str(), O_RDWR | O_CLOEXEC);
    offBusEvent_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (in_ < 0 || out_ < 0 || offBusEvent_ < 0) {
        error = "cannot open the bulk endpoints in " + ffsDir_ + ": " + std::strerror(errno);
        Close();
        return false;
    }
    return true;
}

void FunctionFsService::Close() {
    if (bulk_.joinable()) {
        stopping_ = true;
        // The signal may land between the thread's check and its next read: repeat until it is out.
        while (bulk_.joinable()) {
            InterruptBulk();
            for (int i = 0; i < 20 && !bulkDone_.load(); ++i) ::usleep(1000);
            if (bulkDone_.load()) bulk_.join();
        }
    }
    for (int* fd : {&in_, &out_, &ep0_, &offBusEvent_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

void FunctionFsService::InterruptBulk() {
    if (bulk_.joinable()) pthread_kill(bulk_.native_handle(), SIGUSR1);
}

FunctionFsService::End FunctionFsService::Run(int stopFd, const std::function<void()>& onUnbind) {
    onUnbind_ = onUnbind;
    struct sigaction sa {};
    sa.sa_handler = NoOpHandler;  // no SA_RESTART: a blocked endpoint read returns EINTR
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGUSR1, &sa, nullptr);
    stopping_ = false;
    bulkDone_ = false;
    bulk_ = std::thread([this] { BulkLoop(); });

    End end = End::Stopped;
    for (;;) {
        std::array<pollfd, 3> fds{{{ep0_, POLLIN, 0}, {stopFd, POLLIN, 0}, {offBusEvent_, POLLIN, 0}}};
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            end = End::Failed;
            break;
        }
        if (fds[1].revents != 0) break;
        if (fds[2].revents != 0) {
            end = End::OffBus;
            break;
        }
        if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            Log("ep0 closed by the kernel");
            end = End::Failed;
            break;
        }
        if ((fds[0].revents & POLLIN) != 0) HandleEp0Events();
    }
    Close();
    return end;
}

void FunctionFsService::HandleEp0Events() {
    std::array<usb_functionfs_event, 4> events{};
    const ssize_t n = ::read(ep0_, events.data(), sizeof events);
    if (n < 0) {
        if (errno != EINTR && errno != EAGAIN) Log(std::string("ep0 read failed: ") + std::strerror(errno));
        return;
    }
    // A setup request, if any, is the last event of the batch.
    for (std::size_t i = 0; i < std::size_t(n) / sizeof(usb_functionfs_event); ++i) {
        switch (events[i].type) {
            case FUNCTIONFS_BIND:
                Log("bound to the UDC");
                break;
            case FUNCTIONFS_UNBIND:
                Log("unbound from the UDC");
                if (onUnbind_) onUnbind_();
                break;
            case FUNCTIONFS_ENABLE:
                if (verbose_) Log("configured by the host");
                break;
            case FUNCTIONFS_DISABLE:
                if (verbose_) Log("deconfigured");
                break;
            case FUNCTIONFS_SETUP:
                HandleSetup(reinterpret_cast<const uint8_t*>(&events[i].u.setup));
                break;
            default:
                break;
        }
    }
}

void FunctionFsService::HandleSetup(const uint8_t* setup) {
    const uint8_t requestType = setup[0], request = setup[1];
    const uint16_t length = GetLe16(setup + 6);
    const bool classRequest = (requestType & USB_TYPE_MASK) == USB_TYPE_CLASS;
    std::array<uint8_t, 1> byte{0};
    if (classRequest && request == kGetMaxLun && (requestType & USB_DIR_IN) != 0 && length >= 1) {
        (void)::write(ep0_, byte.data(), 1);  // one logical unit: the highest number is 0
        return;
    }
    if (classRequest && request == kBulkOnlyReset && (requestType & USB_DIR_IN) == 0 && length == 0) {
        (void)::read(ep0_, byte.data(), 0);  // the status stage
        if (verbose_) Log("bulk-only reset");
        // Abandon whatever data phase the bulk thread waits in; it starts over at the next CBW.
        resetPending_ = true;
        for (int i = 0; i < 20 && resetPending_.load(); ++i) {
            InterruptBulk();
            ::usleep(5000);
        }
        return;
    }
    // Anything else is stalled: FunctionFS stalls ep0 on I/O against the request's direction.
    if ((requestType & USB_DIR_IN) != 0) {
        (void)::read(ep0_, byte.data(), 0);
    } else {
        (void)::write(ep0_, byte.data(), 0);
    }
}

void FunctionFsService::HaltBulkIn() {
    // FunctionFS halts an endpoint on I/O against its direction. The UDC refuses while a request
    // is still queued there, which ends as soon as the host has taken it.
    uint8_t byte = 0;
    for (int i = 0; i < 100; ++i) {
        if (::read(in_, &byte, 1) < 0 && errno == EAGAIN) {
            ::usleep(1000);
            continue;
        }
        return;
    }
    Log("could not halt bulk-in");
}

void FunctionFsService::BulkLoop() {
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    pthread_sigmask(SIG_UNBLOCK, &usr1, nullptr);

    std::array<uint8_t, 1024> cbwBuffer{};
    std::vector<uint8_t> data;
    while (!stopping_) {
        resetPending_ = false;
        const ssize_t n = ::read(out_, cbwBuffer.data(), cbwBuffer.size());
        if (n < 0) {
            // EINTR: a reset or the stop. Otherwise the endpoint went down (unplug, host reset);
            // the next read waits until the host configures the device again.
            if (errno != EINTR) {
                if (verbose_) Log(std::string("bulk-out: ") + std::strerror(errno));
                ::usleep(10000);
            }
            continue;
        }
        const auto cbw = ParseCbw(cbwBuffer.data(), std::size_t(n));
        if (!cbw) {
            Log("ignored an invalid command wrapper of " + std::to_string(n) + " bytes");
            continue;
        }
        CommandOutcome outcome;
        uint32_t received = 0;
        if (cbw->dataLength > kMaxDataLength) {
            outcome.status = CswStatus::PhaseError;
        } else {
            data.assign(cbw->dataLength, 0);
            if (cbw->direction() == DataDirection::Out) {
                // Likewise a data phase: the next connection's first command is no data.
                SetNonBlocking(out_, true);
                const ssize_t got = ReadData(out_, data.data(), data.size());
                SetNonBlocking(out_, false);
                if (got < 0) continue;
                received = uint32_t(got);
            }
            if (cbw->direction() == DataDirection::Out && received < cbw->dataLength) {
                outcome.status = CswStatus::PhaseError;  // the host sent less than it announced
            } else {
                outcome = target_.Execute(*cbw, data.data());
            }
        }
        if (verbose_) {
            char line[96];
            std::snprintf(line, sizeof line, "cmd %02X %02X len %u -> status %d", cbw->cdb[0], cbw->cdb[1],
                          cbw->dataLength, int(outcome.status));
            Log(line);
        }
        if (outcome.reply == CommandOutcome::Reply::OffBus) {
            const uint64_t one = 1;
            (void)::write(offBusEvent_, &one, sizeof one);
            break;
        }
        if (outcome.reply == CommandOutcome::Reply::None) continue;  // the host's time-out handles it
        if (cbw->direction() == DataDirection::In && outcome.status != CswStatus::PhaseError) {
            if (outcome.endsShort) {
                // Only what the device has; a halted bulk-in ends the host's data stage, and the
                // host clears the halt before it reads the status.
                if (outcome.dataBytes > 0 && !WriteData(in_, data.data(), outcome.dataBytes)) continue;
                HaltBulkIn();
            } else {
                // Always the whole announced length: what the command did not answer is padding
                // that the residue reports.
                std::fill(data.begin() + outcome.dataBytes, data.end(), 0);
                if (!WriteData(in_, data.data(), data.size())) continue;
            }
        }
        const uint32_t residue =
            outcome.status == CswStatus::PhaseError ? 0 : cbw->dataLength - outcome.dataBytes;
        const auto csw = BuildCsw(cbw->tag, residue, outcome.status);
        (void)WriteData(in_, csw.data(), csw.size());
    }
    bulkDone_ = true;
}

}  // namespace brev::gadget
