// wm-ping WINDOW MIN-PINGS: as a window manager does, sends the window
// _NET_WM_PING every second while it is shown, and fails unless each ping is
// answered (on the root window) within a second and MIN-PINGS were sent.
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

int main(int argc, char** argv) {
  using Clock = std::chrono::steady_clock;
  if (argc != 3) return 2;
  const auto window = static_cast<xcb_window_t>(std::strtoul(argv[1], nullptr, 0));
  xcb_connection_t* x = xcb_connect(nullptr, nullptr);
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
  // Qt answers with the first mask, other toolkits with the second.
  const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &mask);
  xcb_client_message_event_t ping{XCB_CLIENT_MESSAGE, 32, 0, window, 0, {}};
  for (const auto& [slot, name] :
       {std::pair{&ping.type, "WM_PROTOCOLS"}, {&ping.data.data32[0], "_NET_WM_PING"}}) {
    auto* atom = xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, std::strlen(name), name), nullptr);
    *slot = atom->atom;
    std::free(atom);
  }
  ping.data.data32[2] = window;
  const auto shown = [&] {
    auto* attributes =
        xcb_get_window_attributes_reply(x, xcb_get_window_attributes(x, window), nullptr);
    const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(attributes);
    return viewable;
  };

  // The window may be found a moment before the server maps it.
  for (const auto until = Clock::now() + std::chrono::seconds(10);
       !shown() && Clock::now() < until;)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  int sent = 0, late = 0;
  while (shown()) {
    ping.data.data32[1] = ++sent;  // the time stamp, which the answer repeats
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    xcb_send_event(x, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&ping));
    xcb_flush(x);
    bool answered = false;
    while (!answered && Clock::now() < deadline) {
      xcb_generic_event_t* event = xcb_poll_for_event(x);
      const auto* reply = reinterpret_cast<xcb_client_message_event_t*>(event);
      answered = event && (event->response_type & 0x7f) == XCB_CLIENT_MESSAGE &&
                 reply->data.data32[0] == ping.data.data32[0] &&
                 reply->data.data32[1] == ping.data.data32[1];
      if (!event) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      std::free(event);
    }
    if (!answered && shown()) {
      std::fprintf(stderr, "ping %d: no answer within a second\n", sent);
      ++late;
    }
    std::this_thread::sleep_until(deadline);
  }
  std::printf("%d pings, %d not answered within a second\n", sent, late);
  return late == 0 && sent >= std::atoi(argv[2]) ? 0 : 1;
}
