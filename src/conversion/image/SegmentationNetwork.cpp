#include "conversion/image/SegmentationNetwork.h"

#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>

#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Matrices of the network (weights, and the 600 MB of buffers of a pass) in transparent huge
// pages: touching that much fresh memory a 4 KB page at a time cost as much as a third of a cold
// removal here. Small matrices come from the heap as usual.
class HugePageAllocator : public cv::MatAllocator
{
public:
    cv::UMatData *allocate(int dims, const int *sizes, int type, void *data0, size_t *step, cv::AccessFlag,
                           cv::UMatUsageFlags) const override
    {
        size_t total = CV_ELEM_SIZE(type);
        for (int i = dims - 1; i >= 0; --i) {
            if (step) {
                if (data0 && step[i] != cv::Mat::AUTO_STEP) {
                    CV_Assert(total <= step[i]);
                    total = step[i];
                } else {
                    step[i] = total;
                }
            }
            total *= size_t(sizes[i]);
        }
        auto *u = new cv::UMatData(this);
        u->size = total;
        if (data0) {
            u->data = u->origdata = static_cast<uchar *>(data0);
            u->flags |= cv::UMatData::USER_ALLOCATED;
            return u;
        }
        if (total >= kHugeThreshold) {
            const size_t length = (total + kHugePage - 1) / kHugePage * kHugePage;
            void *p = ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (p != MAP_FAILED) {
                // Aligned to a huge page, so that the whole range can be one.
                auto *base = static_cast<uchar *>(p);
                uchar *aligned = reinterpret_cast<uchar *>((reinterpret_cast<uintptr_t>(base) + kHugePage - 1)
                                                           / kHugePage * kHugePage);
                ::madvise(aligned, length, MADV_HUGEPAGE);
                u->data = u->origdata = aligned;
                u->userdata = new Mapping{base, length + kHugePage};
                return u;
            }
        }
        u->data = u->origdata = static_cast<uchar *>(cv::fastMalloc(total));
        return u;
    }
    bool allocate(cv::UMatData *u, cv::AccessFlag, cv::UMatUsageFlags) const override { return u != nullptr; }
    void deallocate(cv::UMatData *u) const override
    {
        if (!u)
            return;
        if (!(u->flags & cv::UMatData::USER_ALLOCATED)) {
            if (auto *m = static_cast<Mapping *>(u->userdata)) {
                ::munmap(m->base, m->length);
                delete m;
                u->userdata = nullptr;
            } else {
                cv::fastFree(u->origdata);
            }
            u->origdata = nullptr;
        }
        delete u;
    }

private:
    struct Mapping {
        void *base;
        size_t length;
    };
    static constexpr size_t kHugePage = 2 * 1024 * 1024;
    static constexpr size_t kHugeThreshold = 1024 * 1024;
};

void useHugePages()
{
    static std::once_flag once;
    std::call_once(once, [] {
        static HugePageAllocator *allocator = new HugePageAllocator; // lives as long as any matrix
        cv::Mat::setDefaultAllocator(allocator);
    });
}

// The model file mapped into memory: the importer parses it in place, rather than through a
// stream that copies every byte once more on the way (a third of a second here).
class MappedFile
{
public:
    explicit MappedFile(const std::string &path)
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            m_error = std::strerror(errno);
            return;
        }
        struct stat st;
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
            m_error = "not a model file";
        } else {
            void *p = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
            if (p == MAP_FAILED) {
                m_error = std::strerror(errno);
            } else {
                m_data = static_cast<const char *>(p);
                m_size = size_t(st.st_size);
            }
        }
        ::close(fd);
    }
    ~MappedFile()
    {
        if (m_data)
            ::munmap(const_cast<char *>(m_data), m_size);
    }
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;

    const char *data() const { return m_data; }
    size_t size() const { return m_size; }
    const std::string &error() const { return m_error; }

private:
    const char *m_data = nullptr;
    size_t m_size = 0;
    std::string m_error;
};

void setError(std::string *error, const std::string &text)
{
    if (error)
        *error = text;
}

} // namespace

struct SegmentationNetwork::State {
    std::string loadedPath;
    std::unique_ptr<cv::dnn::Net> net;
};

SegmentationNetwork::SegmentationNetwork() : d(std::make_unique<State>()) {}

SegmentationNetwork::~SegmentationNetwork() = default;

bool SegmentationNetwork::load(const std::string &path, std::string *error)
{
    if (d->net && d->loadedPath == path)
        return true;
    useHugePages();
    release();
    const MappedFile file(path);
    if (!file.data()) {
        setError(error, "Could not read the background-removal model (" + file.error() + ")");
        return false;
    }
    try {
        auto net = std::make_unique<cv::dnn::Net>(cv::dnn::readNetFromONNX(file.data(), file.size()));
        if (net->empty()) {
            setError(error, "The background-removal model holds no network");
            return false;
        }
        d->net = std::move(net);
    } catch (const cv::Exception &e) {
        setError(error, e.what());
        return false;
    }
    d->loadedPath = path;
    return true;
}

bool SegmentationNetwork::isLoaded() const
{
    return d->net != nullptr;
}

bool SegmentationNetwork::run(const std::string &path, const uint8_t *rgb, float *mask, std::string *error)
{
    if (!load(path, error))
        return false;
    try {
        // (x − 128) / 256 per channel, NCHW, channels kept in RGB order.
        const cv::Mat image(kSide, kSide, CV_8UC3, const_cast<uint8_t *>(rgb));
        const cv::Mat blob = cv::dnn::blobFromImage(image, 1.0 / 256.0, cv::Size(kSide, kSide),
                                                    cv::Scalar(128, 128, 128), false, false, CV_32F);
        d->net->setInput(blob, "input");
        const cv::Mat result = d->net->forward("output");
        if (result.total() != kMaskFloats || result.type() != CV_32F) {
            setError(error, "The background-removal model gave a mask of the wrong size");
            return false;
        }
        const cv::Mat flat = result.isContinuous() ? result : result.clone();
        std::memcpy(mask, flat.ptr<float>(), sizeof(float) * kMaskFloats);
    } catch (const cv::Exception &e) {
        setError(error, e.what());
        return false;
    }
    return true;
}

void SegmentationNetwork::release()
{
    if (!d->net)
        return;
    d->net.reset();
    d->loadedPath.clear();
    ::malloc_trim(0);
}
