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
    if (!m_live || !m_home_requested || m_library.route.kind != Route::Kind::Home) return;
    if (!m_library.videos.empty() || m_library.home_loading) return;
    m_library.home_loading = true;
    m_library.home_error.reset();
    request_when_live(FetchRequest::home_feed());
}

}  // namespace sarn
