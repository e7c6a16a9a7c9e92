"""The stand-alone fake chat service (tolvi-fake-service) and its control calls."""

import json
import subprocess
import urllib.request

from waits import scaled

# No proxy from the environment may stand between the test and loopback.
_opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))


class FakeService:
    def __init__(self, desktop, binary, script):
        self.process = desktop.start_child("fake-service", [binary, "--script", script],
                                           stdout=subprocess.PIPE)
        line = self.process.stdout.readline().decode().strip()
        if not line.startswith("PORT "):
            raise RuntimeError("tolvi-fake-service did not start (see fake-service.log): %r" % line)
        self.origin = "http://127.0.0.1:%d" % int(line.split()[1])

    def _call(self, method, path, body=None):
        data = json.dumps(body).encode() if body is not None else None
        request = urllib.request.Request(self.origin + path, data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        with _opener.open(request, timeout=scaled(30)) as reply:
            return json.loads(reply.read() or b"{}")

    def set_script(self, script):
        answer = self._call("POST", "/__fake/script", script)
        if not answer.get("ok"):
            raise RuntimeError("the fake refused the script: %r" % answer)

    def requests(self):
        return self._call("GET", "/__fake/requests")["requests"]

    def forget_requests(self):
        self._call("DELETE", "/__fake/requests")

    def release(self):
        return self._call("POST", "/__fake/release").get("released", False)

    def status(self):
        return self._call("GET", "/__fake/status")


def path_of(request):
    return request["path"].split("?", 1)[0]


def is_probe(request):
    """A probe is a one-token chat completion; a person's message never is."""
    if request["method"] != "POST" or path_of(request) != "/api/v1/chat/completions":
        return False
    try:
        return json.loads(request.get("body") or "{}").get("max_tokens") == 1
    except ValueError:
        return False


def chat_requests(requests):
    return [r for r in requests
            if r["method"] == "POST" and path_of(r) == "/api/v1/chat/completions" and not is_probe(r)]


def model_of(request):
    try:
        return json.loads(request.get("body") or "{}").get("model")
    except ValueError:
        return None


def model_list_requests(requests):
    """Catalogue, statistics and probe calls: the work the ranker cache spares."""
    return [r for r in requests
            if (r["method"] == "GET" and (path_of(r) == "/api/v1/models"
                                          or (path_of(r).startswith("/api/v1/models/")
                                              and path_of(r).endswith("/endpoints"))))
            or is_probe(r)]
