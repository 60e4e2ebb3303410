// PreviewPane: a pane of the sheet's window that shows frames drawn
// elsewhere, as the host's settings window shows a module's preview view.
//
// The pane asks for frames at the display's pace (the toolkit's frame
// clock), and only while it is on screen: a hidden or minimised window, or
// one the compositor shows nowhere, asks for none. Everything runs on the
// thread that started the toolkit.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

class PreviewPane {
public:
  // Called once per display frame while the pane is on screen, with the
  // pane's size in pixels; it may show a new frame with ShowFrame.
  typedef std::function<void(int width, int height)> FrameHandler;

  explicit PreviewPane(void* widget);  // for the panel: a GtkDrawingArea
  ~PreviewPane();                      // asks for no more frames
  PreviewPane(const PreviewPane&) = delete;
  PreviewPane& operator=(const PreviewPane&) = delete;

  // Installs (or, when empty, removes) the handler.
  void SetFrameHandler(FrameHandler handler);
  // Shows width x height RGBA pixels, rows bottom first as OpenGL reads
  // them, opaque whatever their alpha, scaled to fit the pane; black shows
  // until the first frame.
  void ShowFrame(const unsigned char* rgba, int width, int height);
  // Frames given to the toolkit to show since the pane was made.
  uint64_t FramesShown() const { return shown; }
  // The frame shown last, as RGB rows top first, and its size; false before
  // the first.
  bool LastFrame(std::vector<unsigned char>* rgb, int* width, int* height) const;

  struct Native;  // the toolkit's objects; opaque outside the platform

private:
  Native* native;
  FrameHandler handler;
  uint64_t shown = 0;
};
