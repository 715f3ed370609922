// Runs in every frame at document creation, before the page's own script. It captures prompt()
// as a synchronous channel to the host and defines window.external over it. The token stays in
// this closure, so the page cannot forge bridge messages; the page's own prompt() calls carry no
// token and are treated as dialogs.
(function () {
    'use strict';
    var token = '@TOKEN@';
    var ask = window.prompt;
    var encode = JSON.stringify;
    var decode = JSON.parse;
    var top = window === window.top;
    var id = Math.random().toString(36).slice(2, 12);
    var stopped = false;
    Object.defineProperty(window, '__nvFrameId', { value: id });

    function send(message) {
        message.f = id;
        message.t = top;
        var answer = ask.call(window, token, encode(message));
        return typeof answer === 'string' ? decode(answer) : null;
    }

    var members = Object.create(null);
    var external = new Proxy({}, {
        get: function (target, name) {
            if (typeof name !== 'string' || name === 'then' || name === 'toJSON')
                return undefined;
            if (members[name])
                return members[name];
            return members[name] = function () {
                var args = [];
                for (var i = 0; i < arguments.length; ++i)
                    args.push(arguments[i] === undefined ? null : arguments[i]);
                var answer = send({ k: 'call', n: name, a: args });
                if (answer === null || answer.x)
                    throw new TypeError('window.external is not available');
                if ('e' in answer)
                    throw new TypeError(answer.e);
                return answer.v;
            };
        },
        has: function () { return true; }
    });
    Object.defineProperty(window, 'external', {
        get: function () { return external; },
        configurable: false
    });

    window.addEventListener('error', function (event) {
        if (stopped)
            return;
        var answer = send({ k: 'error', m: String(event.message), l: event.lineno | 0,
                            s: String(event.filename || location.href) });
        if (answer && answer.stop)
            stopped = true;
    });

    window.addEventListener('load', function () {
        if (location.protocol === 'chrome-error:') {
            var failed = '';
            try {
                failed = loadTimeData.data_.summary.failedUrl;
            } catch (e) {
            }
            send({ k: 'failed', u: String(failed) });
        }
        send({ k: 'load', u: location.href });
    });
})();
