// Checks what the stand-alone fake service sends against the schemas of the
// service's own TypeScript SDK (npm @openrouter/sdk), so that the fake keeps
// answering in the real shapes. Not part of the test suite (it needs the
// npm registry); run it when the fake's answers change:
//
//   mkdir -p /tmp/sdk && (cd /tmp/sdk && npm init -y && npm install @openrouter/sdk)
//   node tests/fake/check-against-sdk.mjs build/tests/fake/tolvi-fake-service /tmp/sdk
//
// It prints one line per answer checked and exits 1 when any does not parse.
import { spawn } from 'node:child_process';
import { pathToFileURL } from 'node:url';

const [fakeBinary, sdkDir] = process.argv.slice(2);
if (!fakeBinary || !sdkDir) {
    console.error('usage: check-against-sdk.mjs FAKE_BINARY SDK_DIR');
    process.exit(2);
}
const sdk = `${sdkDir}/node_modules/@openrouter/sdk/esm/models`;
const models = await import(pathToFileURL(`${sdk}/index.js`));
const operations = await import(pathToFileURL(`${sdk}/operations/index.js`));

const model = 'vendor/small-model:free';
const script = {
    catalogue_sample: true,
    stats: { [model]: { uptime: 99.5, latency: 420 } },
    chat: {
        [model]: { pieces: ['Hello', ' there.'] },
        'vendor/reasoner:free': { reasoning: ['Let me', ' see.'], pieces: ['Four.'] },
        'vendor/cut:free': { pieces: ['Half an'], finish_reason: 'length' },
        'vendor/filtered:free': { pieces: ['Half'], finish_reason: 'content_filter' },
        'vendor/broken:free': { pieces: ['Partial'], stream_error: { code: 502, message: 'Provider returned error' } },
        'vendor/busy:free': { status: 429, message: 'Provider returned error', retry_after: '30',
            metadata: { raw: 'vendor/busy:free is temporarily rate-limited upstream.', provider_name: 'Example',
                retry_after_seconds: 30 } },
        'vendor/minute:free': { status: 429, message: 'Rate limit exceeded: free-models-per-min. ',
            metadata: { headers: { 'X-RateLimit-Limit': '20', 'X-RateLimit-Remaining': '0',
                'X-RateLimit-Reset': String(Date.now() + 30000) }, provider_name: null } },
        'vendor/flagged:free': { status: 403,
            message: 'vendor/flagged:free requires moderation on Example. Your input was flagged for "harassment". No credits were charged.',
            metadata: { reasons: ['harassment'], flagged_input: '...', provider_name: 'Example', model_slug: 'vendor/flagged' } },
        'vendor/long:free': { status: 400,
            message: "This endpoint's maximum context length is 8192 tokens. However, you requested about 9123 tokens." },
        'vendor/private:free': { status: 404,
            message: 'No endpoints found matching your data policy (Free model publication). Configure: https://openrouter.ai/settings/privacy' },
    },
};

let failures = 0;
function check(what, schema, value) {
    const result = schema.safeParse(value);
    console.log(`${result.success ? 'ok  ' : 'FAIL'} ${what}`);
    if (!result.success) {
        failures += 1;
        console.log(JSON.stringify(result.error.issues, null, 1).slice(0, 2000));
    }
}

const fake = spawn(fakeBinary, ['--port', '0'], { stdio: ['ignore', 'pipe', 'inherit'] });
const port = await new Promise((resolve, reject) => {
    fake.stdout.on('data', (bytes) => {
        const found = /PORT (\d+)/.exec(bytes.toString());
        if (found) resolve(found[1]);
    });
    fake.on('exit', () => reject(new Error('the fake service ended')));
});
const base = `http://127.0.0.1:${port}`;
const headers = { Authorization: 'Bearer sk-or-v1-check', 'Content-Type': 'application/json' };
try {
    await fetch(`${base}/__fake/script`, { method: 'POST', body: JSON.stringify(script) });

    check('GET /models', models.ModelsListResponse$inboundSchema, await (await fetch(`${base}/api/v1/models`, { headers })).json());
    check('GET /models/…/endpoints', operations.ListEndpointsResponse$inboundSchema,
        await (await fetch(`${base}/api/v1/models/${model}/endpoints`, { headers })).json());
    check('GET /key', operations.GetCurrentKeyResponse$inboundSchema,
        await (await fetch(`${base}/api/v1/key`, { headers })).json());

    for (const asked of Object.keys(script.chat)) {
        const response = await fetch(`${base}/api/v1/chat/completions`, { method: 'POST', headers,
            body: JSON.stringify({ model: asked, stream: true, messages: [{ role: 'user', content: 'hi' }] }) });
        const body = await response.text();
        if (!response.ok) {
            check(`POST ${asked}: ${response.status} error body`, models.TooManyRequestsResponseErrorData$inboundSchema,
                JSON.parse(body).error);
            continue;
        }
        const events = body.split('\n').filter((line) => line.startsWith('data:'))
            .map((line) => line.slice(5).trim()).filter((payload) => payload !== '[DONE]');
        events.forEach((payload, i) =>
            check(`POST ${asked}: event ${i}`, models.ChatStreamChunk$inboundSchema, JSON.parse(payload)));
    }
} finally {
    fake.kill();
}
process.exit(failures ? 1 : 0);
