// The JavaScript linter's rules for the page's scripts, its tests and its
// benchmark: eslint's recommended ones, with each file's globals said. eslint
// comes with the page's tests (tests/web):
//   tests/web/node_modules/.bin/eslint
'use strict';
const { createRequire } = require('module');
const fromTests = createRequire(__dirname + '/tests/web/');
const js = fromTests('@eslint/js');
const globals = fromTests('globals');

module.exports = [
    { ignores: ['tests/web/node_modules/**', 'build*/**', 'third_party/**', 'dist/**', 'samples/**'] },
    {
        files: ['src/web/*.js'],
        ...js.configs.recommended,
        languageOptions: { ecmaVersion: 2022, sourceType: 'script', globals: { ...globals.browser } },
    },
    {
        files: ['src/web/worker.js'],
        languageOptions: { globals: { ...globals.worker, createTorv: 'readonly' } },
    },
    {
        files: ['tests/web/*.js', 'bench/*.js', 'tools/*.js', 'eslint.config.js'],
        ...js.configs.recommended,
        languageOptions: { ecmaVersion: 2022, sourceType: 'commonjs', globals: { ...globals.node, ...globals.browser } },
    },
];
