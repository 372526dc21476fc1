// The root's navigation: the back stack and the Library's route move together.
#include "sarn/app/sarn_app.h"

namespace sarn {

void SarnApp::navigate(const Route& route) {
    // Consecutive searches do not pile up on the back stack.
    if (m_navigation.current.kind == Route::Kind::Search && route.kind == Route::Kind::Search) {
        m_navigation.replace(route);
    } else {
        m_navigation.navigate(route);
    }
    m_library.route = m_navigation.current;
    refresh_home_on_return();
}

void SarnApp::refresh_home_on_return() {
    // An empty Home that is not loading says "return Home to load videos":
    // coming back to it asks for the feed, live or not (an offline start asks
    // the worker for the first time here).
    if (m_library.route.kind != Route::Kind::Home) return;
    if (!m_library.videos.empty() || m_library.home_loading) return;
    if (m_live && !m_home_requested) return;  // the first frame asks
    m_library.home_loading = true;
    m_library.home_error.reset();
    submit_request(FetchRequest::home_feed());
}

}  // namespace sarn
