// tools/gen_unicode_tables.mjs - writes src/ch/regexp/unicode/ucd_tables.inc, the Unicode 5.1 tables of the
// regular-expression engine.
//
// Usage: node tools/gen_unicode_tables.mjs [OUTPUT]   (standard output when OUTPUT is omitted)
//
// Input is the pinned npm package tools/data/unicode-unicode-5.1.0-2.0.7.tgz (see tools/data/README.md). Its
// SHA-256 is checked, then the archive is unpacked with Node's own gunzip and a minimal tar reader into a temporary
// directory, and the property modules are imported from there. No network, no third-party modules, and the output
// depends on nothing but the archive, so reruns are byte-identical.
//
// Tables written (element types are declared in src/ch/regexp/unicode/unicode_internal.h):
//   UniTbl          every assigned code point U+0000..U+E01EF outside the bulk ranges: code point, category mask,
//                   simple uppercase and simple lowercase mapping (0 = none)
//   UniRangeTbl     the bulk ranges (CJK ideographs, Hangul syllables, surrogates, private use) with their category
//   UniBlockTbl     the blocks, "In" + name without spaces, hyphens or underscores, in code-point order
//   Uni<Script>Tbl  per script, the maximal runs of consecutive code points sharing one general category, where
//                   Lu, Ll and Lt count as one (the line structure of the Unicode script data file)
//   UniScriptTbl    script name -> range table and range count, for the property parser
// Every count is checked against the expected value before anything is written.

import { createHash } from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { gunzipSync } from 'node:zlib';

const kArchive = 'unicode-unicode-5.1.0-2.0.7.tgz';
const kArchiveSha256 = 'ae5ab4119fab7497be0d1399d6928ee273721cde8f66f1334c20d83e50dfbbaa';

const kCategoryMask = {
    Lowercase_Letter: 0x81, Uppercase_Letter: 0x82, Titlecase_Letter: 0x84, Modifier_Letter: 0x88,
    Other_Letter: 0x90,
    Nonspacing_Mark: 0x101, Spacing_Mark: 0x102, Enclosing_Mark: 0x104,
    Space_Separator: 0x201, Line_Separator: 0x202, Paragraph_Separator: 0x204,
    Math_Symbol: 0x401, Currency_Symbol: 0x402, Modifier_Symbol: 0x404, Other_Symbol: 0x408,
    Decimal_Number: 0x801, Letter_Number: 0x802, Other_Number: 0x804,
    Dash_Punctuation: 0x1001, Open_Punctuation: 0x1002, Close_Punctuation: 0x1004, Initial_Punctuation: 0x1008,
    Final_Punctuation: 0x1010, Connector_Punctuation: 0x1020, Other_Punctuation: 0x1040,
    Control: 0x2001, Format: 0x2002, Private_Use: 0x2004, Surrogate: 0x2008,
};
const kLo = 0x90, kCs = 0x2008, kCo = 0x2004;

// Ranges left out of UniTbl. Each must hold one category throughout; the surrogates are split at their block
// boundaries and the supplementary private-use ranges stop before the two noncharacters of their plane.
const kBulkRanges = [
    [0x3400, 0x4DB5, kLo], [0x4E00, 0x9FC3, kLo], [0xAC00, 0xD7A3, kLo],
    [0xD800, 0xDB7F, kCs], [0xDB80, 0xDBFF, kCs], [0xDC00, 0xDFFF, kCs],
    [0xE000, 0xF8FF, kCo], [0x20000, 0x2A6D6, kLo], [0xF0000, 0xFFFFD, kCo], [0x100000, 0x10FFFD, kCo],
];
const kLastTableCode = 0xE01EF;
const kExpectedEntries = 19316;

// Block names without their "In" prefix, in code-point order: the exact spelling the property parser accepts.
const kBlockNames = [
    'BasicLatin', 'Latin1Supplement', 'LatinExtendedA', 'LatinExtendedB', 'IPAExtensions', 'SpacingModifierLetters',
    'CombiningDiacriticalMarks', 'GreekandCoptic', 'Cyrillic', 'CyrillicSupplement', 'Armenian', 'Hebrew', 'Arabic',
    'Syriac', 'ArabicSupplement', 'Thaana', 'NKo', 'Devanagari', 'Bengali', 'Gurmukhi', 'Gujarati', 'Oriya', 'Tamil',
    'Telugu', 'Kannada', 'Malayalam', 'Sinhala', 'Thai', 'Lao', 'Tibetan', 'Myanmar', 'Georgian', 'HangulJamo',
    'Ethiopic', 'EthiopicSupplement', 'Cherokee', 'UnifiedCanadianAboriginalSyllabics', 'Ogham', 'Runic', 'Tagalog',
    'Hanunoo', 'Buhid', 'Tagbanwa', 'Khmer', 'Mongolian', 'Limbu', 'TaiLe', 'NewTaiLue', 'KhmerSymbols', 'Buginese',
    'Balinese', 'Sundanese', 'Lepcha', 'OlChiki', 'PhoneticExtensions', 'PhoneticExtensionsSupplement',
    'CombiningDiacriticalMarksSupplement', 'LatinExtendedAdditional', 'GreekExtended', 'GeneralPunctuation',
    'SuperscriptsandSubscripts', 'CurrencySymbols', 'CombiningDiacriticalMarksforSymbols', 'LetterlikeSymbols',
    'NumberForms', 'Arrows', 'MathematicalOperators', 'MiscellaneousTechnical', 'ControlPictures',
    'OpticalCharacterRecognition', 'EnclosedAlphanumerics', 'BoxDrawing', 'BlockElements', 'GeometricShapes',
    'MiscellaneousSymbols', 'Dingbats', 'MiscellaneousMathematicalSymbolsA', 'SupplementalArrowsA',
    'BraillePatterns', 'SupplementalArrowsB', 'MiscellaneousMathematicalSymbolsB',
    'SupplementalMathematicalOperators', 'MiscellaneousSymbolsandArrows', 'Glagolitic', 'LatinExtendedC', 'Coptic',
    'GeorgianSupplement', 'Tifinagh', 'EthiopicExtended', 'CyrillicExtendedA', 'SupplementalPunctuation',
    'CJKRadicalsSupplement', 'KangxiRadicals', 'IdeographicDescriptionCharacters', 'CJKSymbolsandPunctuation',
    'Hiragana', 'Katakana', 'Bopomofo', 'HangulCompatibilityJamo', 'Kanbun', 'BopomofoExtended', 'CJKStrokes',
    'KatakanaPhoneticExtensions', 'EnclosedCJKLettersandMonths', 'CJKCompatibility',
    'CJKUnifiedIdeographsExtensionA', 'YijingHexagramSymbols', 'CJKUnifiedIdeographs', 'YiSyllables', 'YiRadicals',
    'Vai', 'CyrillicExtendedB', 'ModifierToneLetters', 'LatinExtendedD', 'SylotiNagri', 'Phagspa', 'Saurashtra',
    'KayahLi', 'Rejang', 'Cham', 'HangulSyllables', 'HighSurrogates', 'HighPrivateUseSurrogates', 'LowSurrogates',
    'PrivateUseArea', 'CJKCompatibilityIdeographs', 'AlphabeticPresentationForms', 'ArabicPresentationFormsA',
    'VariationSelectors', 'VerticalForms', 'CombiningHalfMarks', 'CJKCompatibilityForms', 'SmallFormVariants',
    'ArabicPresentationFormsB', 'HalfwidthandFullwidthForms', 'Specials', 'LinearBSyllabary', 'LinearBIdeograms',
    'AegeanNumbers', 'AncientGreekNumbers', 'AncientSymbols', 'PhaistosDisc', 'Lycian', 'Carian', 'OldItalic',
    'Gothic', 'Ugaritic', 'OldPersian', 'Deseret', 'Shavian', 'Osmanya', 'CypriotSyllabary', 'Phoenician', 'Lydian',
    'Kharoshthi', 'Cuneiform', 'CuneiformNumbersandPunctuation', 'ByzantineMusicalSymbols', 'MusicalSymbols',
    'AncientGreekMusicalNotation', 'TaiXuanJingSymbols', 'CountingRodNumerals', 'MathematicalAlphanumericSymbols',
    'MahjongTiles', 'DominoTiles', 'CJKUnifiedIdeographsExtensionB', 'CJKCompatibilityIdeographsSupplement', 'Tags',
    'VariationSelectorsSupplement', 'SupplementaryPrivateUseAreaA', 'SupplementaryPrivateUseAreaB',
];

// The scripts the parser accepts, in table order, with their expected range counts ("Unknown" is not a script).
const kScripts = [
    ['Common', 530], ['Latin', 42], ['Greek', 51], ['Cyrillic', 18], ['Armenian', 6], ['Hebrew', 22],
    ['Arabic', 36], ['Syriac', 7], ['Thaana', 3], ['Devanagari', 17], ['Bengali', 25], ['Gurmukhi', 21],
    ['Gujarati', 21], ['Oriya', 25], ['Tamil', 24], ['Telugu', 18], ['Kannada', 20], ['Malayalam', 18],
    ['Sinhala', 13], ['Thai', 10], ['Lao', 22], ['Tibetan', 34], ['Myanmar', 33], ['Georgian', 4], ['Hangul', 12],
    ['Ethiopic', 31], ['Cherokee', 1], ['Canadian_Aboriginal', 3], ['Ogham', 4], ['Runic', 2], ['Khmer', 17],
    ['Mongolian', 13], ['Hiragana', 3], ['Katakana', 8], ['Bopomofo', 2], ['Han', 15], ['Yi', 4],
    ['Old_Italic', 2], ['Gothic', 4], ['Deseret', 1], ['Inherited', 22], ['Tagalog', 3], ['Hanunoo', 2],
    ['Buhid', 2], ['Tagbanwa', 3], ['Limbu', 12], ['Tai_Le', 2], ['Linear_B', 7], ['Ugaritic', 2], ['Shavian', 1],
    ['Osmanya', 2], ['Cypriot', 6], ['Braille', 1], ['Buginese', 4], ['Coptic', 6], ['New_Tai_Lue', 6],
    ['Glagolitic', 2], ['Tifinagh', 2], ['Syloti_Nagri', 11], ['Old_Persian', 4], ['Kharoshthi', 11],
    ['Balinese', 17], ['Cuneiform', 3], ['Phoenician', 3], ['Phags_Pa', 2], ['Nko', 7], ['Sundanese', 10],
    ['Lepcha', 8], ['Ol_Chiki', 4], ['Vai', 6], ['Saurashtra', 6], ['Kayah_Li', 4], ['Rejang', 4], ['Lycian', 1],
    ['Carian', 1], ['Lydian', 2], ['Cham', 13],
];

function fail(message) {
    process.stderr.write(`gen_unicode_tables: ${message}\n`);
    process.exit(1);
}

// Unpacks the regular files of a gzip-compressed ustar archive whose names pass `want` into dir.
function unpackTgz(archive, dir, want) {
    const tar = gunzipSync(archive);
    const field = (off, len) => {
        const end = tar.indexOf(0, off);
        return tar.toString('latin1', off, end >= 0 && end < off + len ? end : off + len);
    };
    for (let off = 0; off + 512 <= tar.length;) {
        if (tar.subarray(off, off + 512).every((b) => b === 0)) break;
        const prefix = field(off + 345, 155);
        const name = (prefix ? prefix + '/' : '') + field(off, 100);
        const size = parseInt(field(off + 124, 12).trim() || '0', 8);
        const type = String.fromCharCode(tar[off + 156]);
        const data = off + 512;
        if ((type === '0' || type === '\0') && want(name)) {
            if (name.split('/').includes('..') || path.isAbsolute(name)) fail(`unsafe archive member ${name}`);
            const target = path.join(dir, name);
            fs.mkdirSync(path.dirname(target), { recursive: true });
            fs.writeFileSync(target, tar.subarray(data, data + size));
        }
        off = data + Math.ceil(size / 512) * 512;
    }
}

const hex = (v) => '0x' + v.toString(16).toUpperCase();

async function main() {
    const toolsDir = path.dirname(fileURLToPath(import.meta.url));
    const archive = fs.readFileSync(path.join(toolsDir, 'data', kArchive));
    const sha = createHash('sha256').update(archive).digest('hex');
    if (sha !== kArchiveSha256) fail(`${kArchive} has SHA-256 ${sha}, expected ${kArchiveSha256}`);

    const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'kel-ucd-'));
    try {
        unpackTgz(archive, tmp, (n) =>
            n === 'package/decode-ranges.mjs' || /^package\/(General_Category|Script|Block)\/[^/]+\/ranges\.mjs$/.test(n) ||
            /^package\/Simple_Case_Mapping\/(Uppercase|Lowercase)\/code-points\.mjs$/.test(n));
        const pkg = path.join(tmp, 'package');
        const load = async (rel) => (await import(pathToFileURL(path.join(pkg, rel)).href)).default;
        const codesOf = async (rel) => {
            const out = [];
            for (const r of await load(rel)) for (let c = r.begin; c < r.end; ++c) out.push(c);
            return out;
        };

        const category = new Map();
        for (const [name, mask] of Object.entries(kCategoryMask)) {
            for (const c of await codesOf(`General_Category/${name}/ranges.mjs`)) {
                if (category.has(c)) fail(`U+${hex(c)} has two categories`);
                category.set(c, mask);
            }
        }
        const upper = await load('Simple_Case_Mapping/Uppercase/code-points.mjs');
        const lower = await load('Simple_Case_Mapping/Lowercase/code-points.mjs');

        for (const [first, last, cat] of kBulkRanges) {
            for (let c = first; c <= last; ++c) {
                if (category.get(c) !== cat) fail(`bulk range U+${hex(first)} is not uniform at U+${hex(c)}`);
                if (upper.has(c) || lower.has(c)) fail(`bulk range U+${hex(first)} holds a cased code point`);
            }
        }
        const inBulk = (c) => kBulkRanges.some(([first, last]) => c >= first && c <= last);

        const entries = [...category.keys()]
            .filter((c) => c <= kLastTableCode && !inBulk(c))
            .sort((x, y) => x - y)
            .map((c) => [c, category.get(c), upper.get(c) ?? 0, lower.get(c) ?? 0]);
        if (entries.length !== kExpectedEntries) fail(`UniTbl has ${entries.length} entries, expected ${kExpectedEntries}`);
        for (const c of category.keys()) {
            if (c > kLastTableCode && !inBulk(c)) fail(`assigned U+${hex(c)} lies beyond UniTbl and the bulk ranges`);
        }

        const packageBlockName = new Map();
        const blockDirs = fs.readdirSync(path.join(pkg, 'Block'));
        const squash = (s) => s.replace(/[^A-Za-z0-9]/g, '').toLowerCase();
        for (const d of blockDirs) packageBlockName.set(squash(d), d);
        if (blockDirs.length !== kBlockNames.length) fail(`${blockDirs.length} blocks in the data, expected ${kBlockNames.length}`);
        const blocks = [];
        for (const name of kBlockNames) {
            const dir = packageBlockName.get(squash(name));
            if (!dir) fail(`no block data for ${name}`);
            const ranges = await load(`Block/${dir}/ranges.mjs`);
            if (ranges.length !== 1) fail(`block ${name} is not one range`);
            blocks.push(['In' + name, ranges[0].begin, ranges[0].end - 1]);
        }
        for (let i = 1; i < blocks.length; ++i) {
            if (blocks[i][1] <= blocks[i - 1][2]) fail(`block ${blocks[i][0]} is out of code-point order`);
        }

        const scripts = [];
        const runCategory = (c) => {
            const k = category.get(c) ?? 0x2010;
            return k === 0x81 || k === 0x82 || k === 0x84 ? 0x87 : k;
        };
        for (const [name, expected] of kScripts) {
            const codes = (await codesOf(`Script/${name}/ranges.mjs`)).sort((x, y) => x - y);
            const runs = [];
            for (const c of codes) {
                const run = runs[runs.length - 1];
                if (run && run[1] === c - 1 && runCategory(run[1]) === runCategory(c)) {
                    run[1] = c;
                } else {
                    runs.push([c, c]);
                }
            }
            if (runs.length !== expected) fail(`script ${name} has ${runs.length} ranges, expected ${expected}`);
            scripts.push([name, runs]);
        }

        let out = '';
        const emit = (s) => { out += s + '\n'; };
        emit('// Generated by tools/gen_unicode_tables.mjs; do not edit. Regenerate: node tools/gen_unicode_tables.mjs > src/ch/regexp/unicode/ucd_tables.inc');
        emit(`// Input: tools/data/${kArchive} (Unicode Character Database 5.1.0), SHA-256 ${kArchiveSha256}.`);
        emit('// Included once, by unicode_tables.cpp, after unicode_internal.h has declared the element types.');
        emit('// clang-format off');
        emit('');
        emit(`// Code point, category mask, simple uppercase, simple lowercase (0 = no mapping); sorted by code point.`);
        emit(`extern constexpr UniEntry UniTbl[${entries.length}] = {`);
        for (let i = 0; i < entries.length; i += 4) {
            emit('    ' + entries.slice(i, i + 4).map((e) => `{${e.map(hex).join(', ')}}`).join(', ') + ',');
        }
        emit('};');
        emit('');
        emit('// First code point, last code point, category mask.');
        emit(`extern constexpr UniRange UniRangeTbl[${kBulkRanges.length}] = {`);
        for (const r of kBulkRanges) emit(`    {${r.map(hex).join(', ')}},`);
        emit('};');
        emit('');
        emit('// Name, first code point, last code point.');
        emit(`extern constexpr UniBlock UniBlockTbl[${blocks.length}] = {`);
        for (const [name, first, last] of blocks) emit(`    {"${name}", ${hex(first)}, ${hex(last)}},`);
        emit('};');
        for (const [name, runs] of scripts) {
            emit('');
            emit(`extern constexpr UniPair Uni${name}Tbl[${runs.length}] = {`);
            for (let i = 0; i < runs.length; i += 6) {
                emit('    ' + runs.slice(i, i + 6).map((r) => `{${r.map(hex).join(', ')}}`).join(', ') + ',');
            }
            emit('};');
        }
        emit('');
        emit('// Script name as written in \\p{...}, its range table and range count.');
        emit(`extern constexpr UniScript UniScriptTbl[${scripts.length}] = {`);
        for (const [name, runs] of scripts) emit(`    {"${name}", Uni${name}Tbl, ${runs.length}},`);
        emit('};');
        emit('// clang-format on');

        if (process.argv[2]) {
            fs.writeFileSync(process.argv[2], out);
        } else {
            process.stdout.write(out);
        }
    } finally {
        fs.rmSync(tmp, { recursive: true, force: true });
    }
}

await main();
