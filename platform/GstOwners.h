#pragma once
#include <gst/gst.h>

#include <memory>

// Owners of GStreamer references, released when they go out of scope.
namespace platform {

struct GstObjectUnref {
    void operator()(gpointer object) const { gst_object_unref(object); }
};
struct GstMessageUnref {
    void operator()(GstMessage* message) const { gst_message_unref(message); }
};
struct GstSampleUnref {
    void operator()(GstSample* sample) const { gst_sample_unref(sample); }
};
struct GstCapsUnref {
    void operator()(GstCaps* caps) const { gst_caps_unref(caps); }
};
template <typename T>
using GstPtr = std::unique_ptr<T, GstObjectUnref>;
using GstMessagePtr = std::unique_ptr<GstMessage, GstMessageUnref>;
using GstSamplePtr = std::unique_ptr<GstSample, GstSampleUnref>;
using GstCapsPtr = std::unique_ptr<GstCaps, GstCapsUnref>;

}  // namespace platform
