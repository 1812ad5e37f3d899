#include <xcb/damage.h>
#include <xcb/xfixes.h>
#include <xcb/xinput.h>

#include <algorithm>
#include <utility>

#include "platform/x11/X11Internal.h"

namespace x11 {

ChangeWatch::ChangeWatch(xcb_connection_t* c, xcb_screen_t* screen, bool follow)
    : c_(c), root_(screen->root) {
  if (!follow) return;  // nothing selected: nothing to read
  // XInput 2.2: raw events reach every client that selects them on the root window, whatever
  // window the pointer is over and whoever grabs it.
  const auto* input = xcb_get_extension_data(c, &xcb_input_id);
  if (input && input->present) {
    Reply<xcb_input_xi_query_version_reply_t> version(
        xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
    if (version && (version->major_version > 2 ||
                    (version->major_version == 2 && version->minor_version >= 2))) {
      struct {
        xcb_input_event_mask_t head;
        std::uint32_t mask;
      } select{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
               XCB_INPUT_XI_EVENT_MASK_RAW_MOTION | XCB_INPUT_XI_EVENT_MASK_RAW_TOUCH_BEGIN |
                   XCB_INPUT_XI_EVENT_MASK_RAW_TOUCH_UPDATE};
      Reply<xcb_generic_error_t> error(
          xcb_request_check(c, xcb_input_xi_select_events_checked(c, root_, 1, &select.head)));
      if (!error) inputOpcode_ = input->major_opcode;
    }
  }
  // DAMAGE 1.1 reports drawing anywhere on the screen on the root window; XFixes 2 reads the
  // regions it gathers.
  const auto* damage = xcb_get_extension_data(c, &xcb_damage_id);
  const auto* fixes = xcb_get_extension_data(c, &xcb_xfixes_id);
  if (damage && damage->present && fixes && fixes->present) {
    Reply<xcb_xfixes_query_version_reply_t> fixesVersion(
        xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 5, 0), nullptr));
    Reply<xcb_damage_query_version_reply_t> damageVersion(
        xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr));
    if (fixesVersion && fixesVersion->major_version >= 2 && damageVersion &&
        (damageVersion->major_version > 1 ||
         (damageVersion->major_version == 1 && damageVersion->minor_version >= 1)))
      damageEvent_ = damage->first_event + XCB_DAMAGE_NOTIFY;
  }
  // One without the other is no use for resting, and the ticks go on as they always have.
  if (!inputOpcode_ || !damageEvent_) {
    if (inputOpcode_) {
      const xcb_input_event_mask_t none{XCB_INPUT_DEVICE_ALL_MASTER, 0};
      xcb_input_xi_select_events(c, root_, 1, &none);
    }
    inputOpcode_ = 0;
    damageEvent_ = 0;
  }
}

void ChangeWatch::drain() {
  while (xcb_generic_event_t* e = xcb_poll_for_event(c_)) {
    const int type = e->response_type & 0x7f;
    if (type == 0)
      reportError(*reinterpret_cast<const xcb_generic_error_t*>(e), "on the desktop's connection");
    else if (type == XCB_GE_GENERIC && inputOpcode_ &&
             reinterpret_cast<xcb_ge_generic_event_t*>(e)->extension == inputOpcode_) {
      moved_ = true;  // only the raw events are selected here
      activity_ = true;
    } else if (damageEvent_ && type == damageEvent_) {
      const auto* d = reinterpret_cast<xcb_damage_notify_event_t*>(e);
      for (DamageWatch* w : watches_)
        if (w->id_ == d->damage) w->pending_ = true;
      activity_ = true;
    }
    std::free(e);
  }
}

bool ChangeWatch::pointerMayHaveMoved(Clock::time_point now) const {
  return !inputOpcode_ || moved_ || !queried_ || now - *queried_ >= PointerSafetyInterval;
}

void ChangeWatch::pointerQueried(Clock::time_point now, bool moved) {
  moved_ = false;
  queried_ = now;
  activity_ = activity_ || moved;
}

bool ChangeWatch::takeActivity() {
  drain();
  return std::exchange(activity_, false);
}

DamageWatch::DamageWatch(ChangeWatch& changes) : changes_(changes) {
  if (!changes_.damageEvent_) return;
  xcb_connection_t* c = changes_.c_;
  id_ = xcb_generate_id(c);
  // One event each time the damage goes from nothing to something: however much is drawn,
  // no more than one per tick, since every tick takes the damage in.
  xcb_damage_create(c, id_, changes_.root_, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
  region_ = xcb_generate_id(c);
  xcb_xfixes_create_region(c, region_, 0, nullptr);
  changes_.watches_.push_back(this);
}

DamageWatch::~DamageWatch() {
  if (!id_) return;
  auto& w = changes_.watches_;
  w.erase(std::remove(w.begin(), w.end(), this), w.end());
  xcb_damage_destroy(changes_.c_, id_);
  xcb_xfixes_destroy_region(changes_.c_, region_);
  xcb_flush(changes_.c_);
}

bool DamageWatch::touched(const Rect& area) {
  if (!id_) return true;
  changes_.drain();
  if (!pending_) return false;
  pending_ = false;
  xcb_connection_t* c = changes_.c_;
  // Takes the damage in and clears it in one step: what is drawn after this is told anew.
  xcb_damage_subtract(c, id_, XCB_NONE, region_);
  xcb_generic_error_t* e = nullptr;
  const auto r = checked(xcb_xfixes_fetch_region_reply(c, xcb_xfixes_fetch_region(c, region_), &e),
                         &e, "fetching the damaged region");
  if (!r) return true;
  const xcb_rectangle_t* rects = xcb_xfixes_fetch_region_rectangles(r.get());
  const int n = xcb_xfixes_fetch_region_rectangles_length(r.get());
  for (int i = 0; i < n; ++i) {
    const Rect d{rects[i].x, rects[i].y, rects[i].x + rects[i].width, rects[i].y + rects[i].height};
    if (!d.intersected(area).isEmpty()) return true;
  }
  return false;
}

void DamageWatch::forget() {
  if (!id_) return;
  // The server carries this out before the drawing that follows it, which then shows all that
  // was drawn until now; later drawing is told anew.
  xcb_damage_subtract(changes_.c_, id_, XCB_NONE, XCB_NONE);
  pending_ = false;
}

}  // namespace x11
