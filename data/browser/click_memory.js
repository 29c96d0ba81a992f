// The clicks on links that pages report, kept a short while: a download that one of them
// started learns from it whether Ctrl was held, which the downloads interface does not tell.

// An address as both a link and a download name it: without its fragment.
function withoutFragment(url) {
    const hash = url.indexOf("#");
    return hash < 0 ? url : url.slice(0, hash);
}

export class ClickMemory {
    // `keepMs`: how long a click may take to become a download (a slow server's answer).
    constructor(keepMs = 60000, now = () => Date.now()) {
        this.keepMs = keepMs;
        this.now = now;
        this.clicks = new Map();
    }

    remember(url, ctrl) {
        if (typeof url !== "string" || url === "") {
            return;
        }
        this.forgetOld();
        const key = withoutFragment(url);
        // Delete first, so the map's order stays the order of the clicks.
        this.clicks.delete(key);
        this.clicks.set(key, { ctrl: ctrl === true, at: this.now() });
    }

    // Whether Ctrl was held on the latest click on one of these addresses (a download's first
    // and last address); false when no click led to it (an address typed or a script's).
    // A click counts for one download only.
    takeCtrl(...urls) {
        this.forgetOld();
        for (const url of urls) {
            if (typeof url !== "string") {
                continue;
            }
            const key = withoutFragment(url);
            const click = this.clicks.get(key);
            if (click) {
                this.clicks.delete(key);
                return click.ctrl;
            }
        }
        return false;
    }

    forgetOld() {
        const oldest = this.now() - this.keepMs;
        for (const [key, click] of this.clicks) {
            if (click.at >= oldest) {
                break;
            }
            this.clicks.delete(key);
        }
    }
}
