% wave.m -- plot the surface time histories that sitewave writes to wave1.csv.
%
% Run it in the folder where sitewave ran (Matlab or Octave):
%     >> wave
% wave1.csv holds a heading line (time, H1 and H2 column titles), then one line per sample,
% "time,H1,H2," with a comma after the last value. Numbers are in Fortran form
% (0.1234E+01; 0.1234D+01 and 0.1234-100 are read too). Lines without three finite numbers,
% such as the asterisks of a value too wide for its field, Infinity or NaN, are skipped and
% their count is shown.
%
% The two horizontal components are drawn against time in two stacked panels sharing the
% time axis, titled with the column names of the heading line.

fname = 'wave1.csv';
fid = fopen(fname, 'r');
if fid < 0
  error('wave: cannot open %s in %s', fname, pwd);
end
raw = fread(fid, Inf, '*char')';
fclose(fid);

datalines = regexp(raw, '\r?\n', 'split');
heading = datalines{1};
datalines = datalines(2:end);
datalines = datalines(~cellfun(@(s) isempty(strtrim(s)), datalines));

% Column titles of the heading, padded with defaults if the heading is short.
names = strtrim(regexp(heading, ',', 'split'));
defaults = {'Time (s)', 'H1', 'H2'};
for k = 1:3
  if numel(names) < k || isempty(names{k})
    names{k} = defaults{k};
  end
end

n = numel(datalines);
vals = nan(n, 3);
for k = 1:n
  f = regexp(datalines{k}, ',', 'split');
  if numel(f) >= 3
    f = strtrim(f(1:3));
    f = regexprep(f, '(\d)[dD]([+-]?\d)', '$1E$2');    % double-precision exponent
    f = regexprep(f, '([\d.])([+-]\d+)$', '$1E$2');     % three-digit exponent without E
    vals(k, :) = str2double(f);
  end
end
good = all(isfinite(vals), 2);
skipped = n - sum(good);
vals = vals(good, :);
if isempty(vals)
  error('wave: no readable samples in %s', fname);
end
if skipped > 0
  fprintf('wave: %s: %d lines skipped (unreadable values)\n', fname, skipped);
end

t = vals(:, 1);
figure('Name', 'sitewave surface motion', 'NumberTitle', 'off', ...
       'Position', [100 100 1000 650], ...
       'PaperUnits', 'inches', 'PaperPosition', [0 0 10 6.5]);
ax = [];
for k = 1:2
  ax(k) = subplot(2, 1, k);
  y = vals(:, k + 1);
  plot(t, y, 'Color', [0.0 0.3 0.6], 'LineWidth', 0.6);
  grid on;
  xlim([t(1) t(end)]);
  ylim(1.1 * max(abs(y)) * [-1 1] + [-eps eps]);
  title(['Surface ' names{k + 1}], 'Interpreter', 'none');
  ylabel(names{k + 1}, 'Interpreter', 'none');
  [peak, ipeak] = max(abs(y));
  text(0.99, 0.92, sprintf('peak |%s| = %.4g at %.2f s', names{k + 1}, peak, t(ipeak)), ...
       'Parent', ax(k), 'Units', 'normalized', 'HorizontalAlignment', 'right', ...
       'FontSize', 9, 'Interpreter', 'none');
end
set(ax(1), 'XTickLabel', {});   % the panels share the time axis
xlabel(ax(2), 'Time (s)');
if skipped > 0
  text(0.99, 0.08, sprintf('%d lines skipped (unreadable values)', skipped), ...
       'Parent', ax(2), 'Units', 'normalized', 'HorizontalAlignment', 'right', ...
       'FontSize', 9, 'Color', [0.7 0 0]);
end
linkaxes(ax, 'x');
