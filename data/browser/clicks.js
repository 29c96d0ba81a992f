// Runs in every page: tells the extension about each click on a link and whether Ctrl (or the
// Command key) was held, because a download started by that click does not carry it.
(() => {
    const api = globalThis.browser ?? globalThis.chrome;

    function linkOf(event) {
        const path = typeof event.composedPath === "function" ? event.composedPath() : [event.target];
        return path.find((node) => node instanceof HTMLAnchorElement || node instanceof HTMLAreaElement);
    }

    function report(event) {
        const link = linkOf(event);
        if (!link || !link.href) {
            return;
        }
        try {
            const sent = api.runtime.sendMessage({
                click: { url: link.href, ctrl: event.ctrlKey || event.metaKey },
            });
            sent?.catch?.(() => {});
        } catch {
            // The extension was updated or removed under the page: nothing listens any more.
        }
    }

    // Capturing, so a page that stops the event on its way still lets the extension know.
    addEventListener("click", report, true);
    addEventListener("auxclick", report, true);
})();
