// wm-ping WINDOW [MIN-PINGS]: what a window manager does to find out whether a
// program still answers. Every second, as long as the window is shown, sends
// it _NET_WM_PING and waits up to a second for the answer on the root window.
// Fails unless every ping was answered in time and at least MIN-PINGS were sent.
#include <poll.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

xcb_atom_t atom(xcb_connection_t* x, const char* name) {
  std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
      xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, std::strlen(name), name), nullptr), std::free);
  return reply ? reply->atom : XCB_NONE;
}

bool shown(xcb_connection_t* x, xcb_window_t window) {
  std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> reply(
      xcb_get_window_attributes_reply(x, xcb_get_window_attributes(x, window), nullptr), std::free);
  return reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
}

// Waits until `deadline` for the program's answer to ping `serial`.
bool answered(xcb_connection_t* x, xcb_atom_t ping, std::uint32_t serial,
              Clock::time_point deadline) {
  for (;;) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(x)) {
      const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
      const bool reply = (event->response_type & 0x7f) == XCB_CLIENT_MESSAGE &&
                         message->data.data32[0] == ping && message->data.data32[1] == serial;
      std::free(event);
      if (reply) return true;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd socket{xcb_get_file_descriptor(x), POLLIN, 0};
    poll(&socket, 1, static_cast<int>(left.count()));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s WINDOW [MIN-PINGS]\n", argv[0]);
    return 2;
  }
  const auto window = static_cast<xcb_window_t>(std::strtoul(argv[1], nullptr, 0));
  const int minimum = argc > 2 ? std::atoi(argv[2]) : 1;
  int screenNumber = 0;
  xcb_connection_t* x = xcb_connect(nullptr, &screenNumber);
  if (xcb_connection_has_error(x)) return 2;
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(x));
  for (int i = 0; i < screenNumber; ++i) xcb_screen_next(&screens);
  const xcb_window_t root = screens.data->root;
  // Answers go to the root window, for those that select one of these there
  // (Qt sends with the first, others with the second).
  const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &mask);
  const xcb_atom_t protocols = atom(x, "WM_PROTOCOLS");
  const xcb_atom_t ping = atom(x, "_NET_WM_PING");

  int sent = 0;
  int late = 0;
  Clock::duration slowest{};
  for (std::uint32_t serial = 1; shown(x, window); ++serial) {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = protocols;
    message.data.data32[0] = ping;
    message.data.data32[1] = serial;  // the time stamp slot: any value the answer repeats
    message.data.data32[2] = window;
    const auto start = Clock::now();
    xcb_send_event(x, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
    xcb_flush(x);
    ++sent;
    if (answered(x, ping, serial, start + std::chrono::seconds(1))) {
      slowest = std::max(slowest, Clock::now() - start);
    } else if (shown(x, window)) {
      ++late;
      std::fprintf(stderr, "ping %d not answered within a second\n", sent);
    }
    std::this_thread::sleep_until(start + std::chrono::seconds(1));
  }
  std::printf("%d pings, %d not answered within a second, slowest answer %lld ms\n", sent, late,
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count()));
  xcb_disconnect(x);
  return late == 0 && sent >= minimum ? 0 : 1;
}
