// The npm packages of web/package.json, installed by `npm ci` in web/ (ES modules do not look
// in NODE_PATH, so they are resolved from there).
import {createRequire} from 'node:module';
import path from 'node:path';
import {fileURLToPath} from 'node:url';

const require = createRequire(path.resolve(path.dirname(fileURLToPath(import.meta.url)),
                                           '../../web/package.json'));
export const puppeteer = require('puppeteer-core');
export const {unzipSync} = require('fflate');
