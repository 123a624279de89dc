#pragma once

// The grab worker: a process of its own that makes first-frame thumbnails and strips (frames
// spread over a recording, for skimming) through the media framework for the viewer, so that a
// decoder crashing or hanging on one clip costs that clip's picture only. It reads requests from
// standard input and answers on standard output (see
// GrabWorkerProtocol.h) until its input ends. The media framework is set up once and stays warm.
//
// Options, for tests of what the viewer does with a worker that fails:
//   --crash-on TEXT   raise SIGFPE when a clip path (or a strip's file) contains TEXT (a decoder that crashes)
//   --hang-on TEXT    never answer when a clip path contains TEXT (a decoder that hangs)
//   --exit-at-start   exit with status 127 before saying it is ready (a library that is missing)
//   --first-frame-limit MS   give up on a clip's first frame after MS milliseconds (10 s)
int RunGrabWorker(int argc, char** argv);

// The worker program's file name, installed beside the viewer.
inline constexpr const char* kGrabWorkerProgramName = "viewmere-grab-worker";
